#pragma once
// Text from the writer's callers, read strictly: UTF-8 that is malformed is
// refused rather than stored as a replacement character. The stored bytes
// themselves come from the engine's text codec (platform/jet/text_codec.h).
#include <string>
#include <string_view>

namespace kw::jetw {

// UTF-16 code units of a UTF-8 text, as Jet counts characters; a malformed
// sequence is an error (std::invalid_argument) naming the offending byte's
// position.
std::u16string Utf16FromUtf8(std::string_view utf8);

}  // namespace kw::jetw
