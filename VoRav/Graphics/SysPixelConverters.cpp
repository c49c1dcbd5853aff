#include "VoRav/Graphics/SysPixelConverters.h"

#include <cstring>
#include <mutex>
#include <unordered_map>

#include "VoRav/Graphics/SysPixelConvertersStd.h"

namespace kav {

namespace {

struct TConverterTable {
  std::recursive_mutex lock;
  std::unordered_map<std::string, Ref<TPixelConverter>> converters;
};

TConverterTable& ConverterTable() {
  static TConverterTable* table = [] {
    auto* t = new TConverterTable();
    std::lock_guard<std::recursive_mutex> guard(t->lock);
    RegisterStdPixelConverters([t](TPixelFormat* d, TPixelFormat* s, Ref<TPixelConverter> c) {
      t->converters[PixelConverterKey(d, s)] = std::move(c);
    });
    return t;
  }();
  return *table;
}

const TPixelComponent* FindChannel(const TPixelFormat* f, uint8_t channel) {
  for (const TPixelComponent& c : f->Components())
    if (c.Channel == channel) return &c;
  return nullptr;
}

}  // namespace

uint64_t ScaleChannel(uint64_t v, int32_t src_bits, int32_t dst_bits) {
  if (v == 0) return 0;
  if (dst_bits == src_bits) return v;
  if (dst_bits < src_bits) return v >> (src_bits - dst_bits);
  const int32_t up = dst_bits - src_bits;
  return (v << up) | ((uint64_t(1) << up) - 1);
}

uint64_t ChannelDefault(uint8_t channel, int32_t dst_bits) {
  if (channel != pcAlpha || dst_bits <= 0) return 0;
  return ScaleChannel(255, 8, dst_bits);
}

// --- TDirectConvertor ---

void TDirectConvertor::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
  if (count > 0) std::memmove(dst, src, size_t(count) * size_t(bpp_));
}

// --- TByteConvertor ---

TByteConvertor::TByteConvertor(const TPixelFormat* source, const TPixelFormat* dest)
    : src_step_(source->BytesPerPixel()), dst_step_(dest->BytesPerPixel()) {
  const auto& sc = source->Components();
  const auto& dc = dest->Components();
  for (size_t di = 0; di < dc.size(); ++di) {
    size_t si = 0;
    while (si < sc.size() && sc[si].Channel != dc[di].Channel) ++si;
    if (si < sc.size()) copies_.push_back(TCopy{uint8_t(si), uint8_t(di)});
    else fills_.push_back(TFill{uint8_t(di), uint8_t(ChannelDefault(dc[di].Channel, 8))});
  }
}

void TByteConvertor::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
  for (int32_t i = 0; i < count; ++i, src += src_step_, dst += dst_step_) {
    for (const TCopy& c : copies_) dst[c.To] = src[c.From];
    for (const TFill& f : fills_) dst[f.To] = f.Value;
  }
}

// --- TBitConvertor ---

TBitConvertor::TBitConvertor(const TPixelFormat* source, const TPixelFormat* dest)
    : src_comps_(source->Components()),
      dst_comps_(dest->Components()),
      src_bpp_(source->BytesPerPixel()),
      dst_bpp_(dest->BytesPerPixel()) {
  for (uint8_t ch = pcRed; ch <= pcAlpha; ++ch) {
    TChannelMap& m = channels_[ch];
    const TPixelComponent* s = FindChannel(source, ch);
    const TPixelComponent* d = FindChannel(dest, ch);
    m.src_bits = s ? s->Bits : 0;
    m.dst_bits = d ? d->Bits : 0;
    if (m.src_bits == 0 || m.dst_bits == 0) {
      m.src_bits = 0;
      m.fixed = ChannelDefault(ch, m.dst_bits);
    } else if (m.src_bits <= 12) {
      m.table.resize(size_t(1) << m.src_bits);
      for (size_t v = 0; v < m.table.size(); ++v) m.table[v] = uint32_t(ScaleChannel(v, m.src_bits, m.dst_bits));
    }
  }
}

uint64_t TBitConvertor::Scale(const TChannelMap& m, uint64_t v) const {
  if (m.src_bits == 0) return m.fixed;
  if (!m.table.empty()) return m.table[size_t(v)];
  return ScaleChannel(v, m.src_bits, m.dst_bits);
}

void TBitConvertor::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
  const int32_t in_bytes = src_bpp_ < 8 ? src_bpp_ : 8;
  for (int32_t i = 0; i < count; ++i, src += src_bpp_, dst += dst_bpp_) {
    uint64_t v = 0;
    for (int32_t b = 0; b < in_bytes; ++b) v |= uint64_t(src[b]) << (8 * b);
    // Peel the source channels off from bit 0 up; the first component of a
    // channel gives its value.
    uint64_t value[5] = {};
    bool seen[5] = {};
    uint32_t pos = 0;
    for (const TPixelComponent& c : src_comps_) {
      if (!seen[c.Channel]) {
        const uint64_t mask = c.Bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << c.Bits) - 1;
        value[c.Channel] = pos < 64 ? (v >> pos) & mask : 0;
        seen[c.Channel] = true;
      }
      pos += c.Bits;
    }
    uint64_t out = 0;
    pos = 0;
    for (const TPixelComponent& c : dst_comps_) {
      if (c.Channel != pcPadding && pos < 64) out |= Scale(channels_[c.Channel], value[c.Channel]) << pos;
      pos += c.Bits;
    }
    for (int32_t b = 0; b < dst_bpp_; ++b) dst[b] = b < 8 ? uint8_t(out >> (8 * b)) : 0;
  }
}

// --- the table ---

std::string PixelConverterKey(const TPixelFormat* dest, const TPixelFormat* source) {
  return dest->Name() + "->" + source->Name();
}

void RegisterPixelConverter(TPixelFormat* dest, TPixelFormat* source, Ref<TPixelConverter> converter) {
  TConverterTable& t = ConverterTable();
  std::lock_guard<std::recursive_mutex> guard(t.lock);
  t.converters[PixelConverterKey(dest, source)] = std::move(converter);
}

TPixelConverter* GetPixelConverter(TPixelFormat* dest, TPixelFormat* source) {
  TConverterTable& t = ConverterTable();
  std::lock_guard<std::recursive_mutex> guard(t.lock);
  std::string key = PixelConverterKey(dest, source);
  auto it = t.converters.find(key);
  if (it != t.converters.end()) return it->second.get();
  Ref<TPixelConverter> c = MakeGenericPixelConverter(dest, source);
  TPixelConverter* raw = c.get();
  t.converters.emplace(std::move(key), std::move(c));
  return raw;
}

}  // namespace kav
