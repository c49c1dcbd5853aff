/* A colour library that lacks one of the nine entry points the player binds
 * (cmsDeleteTransform): loading it must leave the binding empty. The
 * functions are never called. */
void* cmsGetColorSpace(void) { return 0; }
void* cmsGetDeviceClass(void) { return 0; }
void* cmsGetProfileInfo(void) { return 0; }
void* cmsCloseProfile(void) { return 0; }
void* cmsOpenProfileFromMem(void) { return 0; }
void* cmsSetAdaptationState(void) { return 0; }
void* cmsCreateTransform(void) { return 0; }
void* cmsDoTransform(void) { return 0; }
