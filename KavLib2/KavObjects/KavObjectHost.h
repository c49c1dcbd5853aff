// What the slide objects ask of the slide host (the producers and callbacks
// all slides of a show share). The host itself is built on top of this
// interface; tests answer it with a small stand-in.
#pragma once

#include <string>

#include "KavLib2/KavClasses/KavImageTasks.h"
#include "VoRav/Graphics/vxColor.h"
#include "VoRav/SysObj2.h"
#include "VoRav/vxGeometry.h"

namespace kav {

class TFileAccessor;
class TKavObject;

class TKavObjectHost : public TRefObject {
 public:
  // The camera position: its z (negative, in front of the slide) gives the
  // viewing distance; 0 means no perspective.
  virtual TVector3 CameraPosition() = 0;
  // A colour read from the project as the display shows it: passed through
  // the show's colour transform unless colour management is off.
  virtual TColor32 TransformColor(TColor32 color) { return color; }
  // The host's object callback: false when none is assigned.
  virtual bool AskObject(TKavObject* /*object*/) { return false; }
  // Cancels the queued picture tasks of an object (keyed by its text key).
  virtual void CancelImageTasks(TKavObject* /*object*/) {}
  // Hands the picture named `key` to the image-task queue for the object
  // (replacing its pending task): the worker loads it through the accessor
  // into the task's first result and calls `callback` on its thread. False
  // when there is no queue: the caller makes the picture at once.
  virtual bool QueueImageTask(TKavObject* /*object*/, std::u16string /*source*/, std::u16string /*key*/,
                              TImageTaskCallback /*callback*/) {
    return false;
  }
  // The show's file accessor (pictures, shadows and other produced images
  // are loaded through it); may be nil.
  virtual TFileAccessor* Accessor() { return nullptr; }
  // The mask value viewports hand the drawer when their content is empty.
  virtual int32_t DefaultMaskValue() { return 0; }
};

}  // namespace kav
