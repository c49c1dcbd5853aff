// Resources linked into the program, and the stream that reads one.
//
// A resource is a named block of bytes of a type (kResourceRawData for raw
// data, as "RES:" names use). Modules that carry data register it at start-
// up, usually with a TResourceRegistrar object at namespace scope:
//
//   static const uint8_t kLogo[] = {...};
//   static const TResourceRegistrar kLogoResource(u"LOGO", kResourceRawData, kLogo);
//
// Names match without regard to case. The registry does not copy the bytes:
// they must live as long as the program (static data). Registration and
// lookup may happen on any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "VoRav/vxMemoryStream.h"

namespace kav {

inline constexpr uint32_t kResourceRawData = 10;

// A memory stream holding its own copy of a resource's bytes.
class TResourceStream : public TMemoryStream {
 public:
  explicit TResourceStream(std::span<const uint8_t> bytes);
};

// Adds (or replaces) the resource `name` of `type`. An empty name is ignored.
void RegisterResource(std::u16string_view name, uint32_t type, std::span<const uint8_t> bytes);

struct TResourceRegistrar {
  TResourceRegistrar(std::u16string_view name, uint32_t type, std::span<const uint8_t> bytes) {
    RegisterResource(name, type, bytes);
  }
};

// A stream over a copy of the resource; nil when it is missing or empty.
Ref<TResourceStream> OpenResourceStream(std::u16string_view name, uint32_t type);

}  // namespace kav
