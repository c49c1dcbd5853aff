#include "VoRav/Graphics/vxGifLoader.h"

#include <mutex>

#include "VoRav/Graphics/vxFPReadGIF.h"
#include "VoRav/Graphics/vxGifAtlas.h"
#include "VoRav/Graphics/vxImageRegistry.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

Ref<TBitmapStore> Wrap(TDirectBitmap* bitmap, const std::u16string& name, const TImageParamsCallback& cb) {
  // The wrapper and the store each own what they wrap.
  RefAddRef(bitmap);
  auto wrapper = MakeRef<TSysDirectWrapper>(bitmap, true);
  return MakeRef<TWrapperBitmapStore>(name, cb, true, wrapper.release());
}

Ref<TBitmapStore> LoadGifStill(TStream* s, const std::u16string& n, bool owns, const TImageParamsCallback& cb) {
  return DecodeGifFrames(s, n, owns, false, cb);
}
Ref<TBitmapStore> LoadGifAtlas(TStream* s, const std::u16string& n, bool owns, const TImageParamsCallback& cb) {
  return DecodeGifFrames(s, n, owns, true, cb);
}

}  // namespace

TTilesTag* FindTilesTag(TBitmapStore* store) {
  TList* list = store->GetNotifyList();
  for (int32_t i = 0; i < list->Count(); ++i)
    if (auto* tag = dynamic_cast<TTilesTag*>(static_cast<TRefObject*>(list->Get(i)))) return tag;
  return nullptr;
}

Ref<TBitmapStore> DecodeGifFrames(TStream* stream, const std::u16string& name, bool owns_stream, bool atlas,
                                  const TImageParamsCallback& params_callback) {
  Ref<TStream> taken = owns_stream ? Ref<TStream>::Adopt(stream) : Ref<TStream>();
  const int64_t start = stream->GetPosition();
  auto reader = MakeRef<TFPReaderGif>();
  if (!reader->InternalCheck(stream)) return nullptr;
  Ref<TDirectBitmap> first;
  bool complete = false;
  try {
    first = reader->InternalRead(stream);
    complete = true;
  } catch (const Exception&) {
    first = Ref<TDirectBitmap>(reader->Bitmap());  // as far as it was written
  }
  if (!first) {
    stream->SetPosition(start);
    return nullptr;
  }
  if (!atlas || !complete || !reader->Animated()) return Wrap(first.get(), name, params_callback);

  TGifAtlas frames;
  bool built = false;
  try {
    built = BuildGifAtlas(*reader, stream, frames);
  } catch (const Exception&) {
    built = false;  // no room for the atlas: the first image serves
  }
  if (!built) return Wrap(first.get(), name, params_callback);
  Ref<TBitmapStore> store = Wrap(frames.Bitmap.get(), name, params_callback);
  auto tag = MakeRef<TTilesTag>();
  tag->TileWidth = frames.TileWidth;
  tag->TileHeight = frames.TileHeight;
  tag->TileCount = tag->Columns = frames.Frames;
  tag->Rows = 1;
  tag->TotalDuration = frames.TotalDuration;
  tag->AverageDelay = double(frames.TotalDuration) / frames.Frames;
  tag->Delays = frames.Delays;
  tag->LoopCount = frames.LoopCount;
  store->GetNotifyList()->Add(tag.get());
  RefAddRef(tag.get());  // the list's own reference
  return store;
}

void RegisterGifLoaders() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterImageLoader(&LoadGifStill, {u".gif"});
    RegisterImageLoader(&LoadGifStill, {u".gif_first_frame"});
    RegisterImageLoader(&LoadGifAtlas, {u".gif|framesatlas"});
  });
}

int FuzzGif(const uint8_t* data, size_t size) {
  const TFuzzBitmapLimits limits;
  auto s = MakeRef<TMemoryStream>();
  if (size) s->Write(std::span<const uint8_t>(data, size), int64_t(size));
  for (bool atlas : {false, true}) {
    s->SetPosition(0);
    Ref<TBitmapStore> store = DecodeGifFrames(s.get(), u"f.gif", false, atlas, {});
    if (store) KAV_ASSERT(store->GetMipLevel(0)->Width() == store->Width());
  }
  return 0;
}

}  // namespace kav
