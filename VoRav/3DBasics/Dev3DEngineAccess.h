// The process-wide 3D engine and the factory that makes it.
#pragma once

#include "VoRav/3DBasics/Dev3DCore.h"

namespace kav {

using T3DEngineFactory = Ref<T3DEngine> (*)();

// Registers the factory Engine3D calls on first use (the Direct3D module
// registers its own; RegisterDirect3DEngine).
void SetEngine3DFactory(T3DEngineFactory factory);
// The engine, made on first call under a lock; null when no factory is set
// or it made none (asked again on the next call).
T3DEngine* Engine3D();
// Frees the engine (the module's end; tests between cases).
void FreeEngine3D();

}  // namespace kav
