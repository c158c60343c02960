#include "common/char_class.h"

namespace vyr::chars {

constexpr std::array<uint8_t, 256> kClasses = makeClasses();

namespace {

constexpr bool classOf(char c, uint8_t cls) {
    return (kClasses[static_cast<uint8_t>(c)] & cls) != 0;
}
static_assert(classOf(' ', kFieldChar) && classOf('~', kFieldChar) && classOf('$', kFieldChar));
static_assert(!classOf(',', kFieldChar) && !classOf('*', kFieldChar) &&
              !classOf('\r', kFieldChar) && !classOf('\0', kFieldChar));
static_assert(!classOf('\x7F', kFieldChar) && !classOf('\x80', kFieldChar) &&
              !classOf('\xFF', kFieldChar));
static_assert(classOf('0', kDigit) && classOf('9', kDigit) && !classOf('/', kDigit) &&
              !classOf(':', kDigit));
static_assert(classOf('\v', kCSpace) && !classOf('\0', kCSpace));
static_assert(classOf('$', kFraming) && classOf('\n', kFraming) && !classOf('\0', kFraming));
static_assert(classOf('\0', kNameStop) && classOf('G', kNameStop) && !classOf('g', kNameStop));

}  // namespace

}  // namespace vyr::chars
