#include "platform/d3d/gl/GlApi.h"

#include <cstring>

namespace kav {

TGlApi gl;

bool GlLoad(void* (*lookup)(const char*), const char** missing) {
  TGlApi api;
#define KAV_GL_LOAD(type, name)                                  \
  api.name = reinterpret_cast<type>(lookup("gl" #name));         \
  if (!api.name) {                                               \
    if (missing) *missing = "gl" #name;                          \
    return false;                                                \
  }
  KAV_GL_FUNCTIONS(KAV_GL_LOAD)
#undef KAV_GL_LOAD
  api.GetGraphicsResetStatus = reinterpret_cast<PFNGLGETGRAPHICSRESETSTATUSPROC>(lookup("glGetGraphicsResetStatus"));
  if (!api.GetGraphicsResetStatus)
    api.GetGraphicsResetStatus =
        reinterpret_cast<PFNGLGETGRAPHICSRESETSTATUSPROC>(lookup("glGetGraphicsResetStatusARB"));
  gl = api;
  return true;
}

}  // namespace kav
