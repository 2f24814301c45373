// The bytes of REG_DWORD and REG_SZ data.
#include "platform/registry_data.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace plg {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(RegistryData, DwordsAreFourBytesLittleEndian) {
  struct Case {
    std::uint32_t number;
    Bytes bytes;
  } cases[] = {
      {0, {0, 0, 0, 0}},
      {1, {1, 0, 0, 0}},
      {0x12345678, {0x78, 0x56, 0x34, 0x12}},
      {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    const auto encoded = EncodeDword(c.number);
    EXPECT_EQ(c.bytes, Bytes(encoded.begin(), encoded.end()));
    std::uint32_t decoded = 7;
    EXPECT_TRUE(DecodeDword(c.bytes, &decoded));
    EXPECT_EQ(c.number, decoded);
  }
  for (const Bytes& wrong : {Bytes{}, Bytes{1, 2, 3}, Bytes{1, 2, 3, 4, 5}}) {
    std::uint32_t decoded = 7;
    EXPECT_FALSE(DecodeDword(wrong, &decoded));
    EXPECT_EQ(7u, decoded);
  }
}

TEST(RegistryData, TextIsItsBytesAndOneTerminatingZero) {
  EXPECT_EQ((Bytes{'a', 0xE9, 0}), EncodeText("a\xe9"));
  EXPECT_EQ((Bytes{0}), EncodeText(""));
  const std::string text = "plg";
  EXPECT_EQ(4u, TextDataSize(text));
  EXPECT_EQ('\0', text.c_str()[TextDataSize(text) - 1]);

  struct Case {
    Bytes data;
    bool is_text;
    std::string text;
  } cases[] = {
      {{'a', 'b', 0}, true, "ab"},       {{0}, true, ""}, {{}, false, "kept"},
      {{'a', 'b'}, false, "kept"},        // no terminating zero
      {{'a', 0, 'b', 0}, false, "kept"},  // two texts
      {{'a', 0, 0}, false, "kept"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + " " + std::to_string(c.data.size()));
    std::string decoded = "kept";
    EXPECT_EQ(c.is_text, DecodeText(c.data, &decoded));
    EXPECT_EQ(c.text, decoded);
  }
}

TEST(RegistryData, TheStringTypesAreTheThreeTextTypes) {
  EXPECT_TRUE(IsStringType(kRegSz));
  EXPECT_TRUE(IsStringType(kRegExpandSz));
  EXPECT_TRUE(IsStringType(kRegMultiSz));
  EXPECT_FALSE(IsStringType(kRegNone));
  EXPECT_FALSE(IsStringType(kRegBinary));
  EXPECT_FALSE(IsStringType(kRegDword));
}

}  // namespace
}  // namespace plg
