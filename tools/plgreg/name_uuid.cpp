#include "tools/plgreg/name_uuid.h"

#include <cstdio>
#include <vector>

namespace plg::tool {

namespace {

std::uint32_t RotateLeft(std::uint32_t value, int bits) {
  return value << bits | value >> (32 - bits);
}

// The 16 bytes of a UUID in registry form, in network order.
std::array<std::uint8_t, 16> UuidBytes(std::string_view text) {
  std::array<std::uint8_t, 16> bytes{};
  std::size_t count = 0;
  int high = -1;
  for (char c : text) {
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
    if (digit < 0) continue;
    if (count == bytes.size()) return {};
    if (high < 0) {
      high = digit;
    } else {
      bytes[count++] = static_cast<std::uint8_t>(high << 4 | digit);
      high = -1;
    }
  }
  return count == bytes.size() ? bytes : std::array<std::uint8_t, 16>{};
}

}  // namespace

std::array<std::uint8_t, 20> Sha1(std::string_view data) {
  std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  std::vector<std::uint8_t> message(data.begin(), data.end());
  const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
  message.push_back(0x80);
  while (message.size() % 64 != 56) message.push_back(0);
  for (int shift = 56; shift >= 0; shift -= 8) {
    message.push_back(static_cast<std::uint8_t>(bits >> shift));
  }
  for (std::size_t block = 0; block < message.size(); block += 64) {
    std::uint32_t w[80];
    for (int i = 0; i < 16; ++i) {
      const std::uint8_t* p = &message[block + 4 * i];
      w[i] =
          std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
    }
    for (int i = 16; i < 80; ++i) w[i] = RotateLeft(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; ++i) {
      const std::uint32_t f = i < 20   ? (b & c) | (~b & d)
                              : i < 40 ? b ^ c ^ d
                              : i < 60 ? (b & c) | (b & d) | (c & d)
                                       : b ^ c ^ d;
      const std::uint32_t k = i < 20   ? 0x5A827999
                              : i < 40 ? 0x6ED9EBA1
                              : i < 60 ? 0x8F1BBCDC
                                       : 0xCA62C1D6;
      const std::uint32_t next = RotateLeft(a, 5) + f + e + k + w[i];
      e = d;
      d = c;
      c = RotateLeft(b, 30);
      b = a;
      a = next;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
  }
  std::array<std::uint8_t, 20> digest;
  for (int i = 0; i < 20; ++i)
    digest[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
  return digest;
}

std::string NameBasedUuid(std::string_view name_space, std::string_view name) {
  const std::array<std::uint8_t, 16> space = UuidBytes(name_space);
  std::string input(space.begin(), space.end());
  input.append(name);
  const std::array<std::uint8_t, 20> digest = Sha1(input);
  std::uint8_t uuid[16];
  for (int i = 0; i < 16; ++i) uuid[i] = digest[i];
  uuid[6] = static_cast<std::uint8_t>((uuid[6] & 0x0F) | 0x50);  // version 5
  uuid[8] = static_cast<std::uint8_t>((uuid[8] & 0x3F) | 0x80);  // RFC 4122 variant
  char text[39];
  std::snprintf(text, sizeof text,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", uuid[0],
                uuid[1], uuid[2], uuid[3], uuid[4], uuid[5], uuid[6], uuid[7], uuid[8], uuid[9],
                uuid[10], uuid[11], uuid[12], uuid[13], uuid[14], uuid[15]);
  return text;
}

}  // namespace plg::tool
