// Registry files: reading both formats into the in-memory registry, writing
// them as reg export does, and refusing bad input whole.
#include "machine/reg_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/registry_text.h"

namespace plg {
namespace {

using plg::testing::DescribeTree;
using namespace std::string_literals;

// A REGEDIT5 file's bytes: byte order mark, then UTF-16LE.
std::string Utf16File(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::unique_ptr<MemoryRegistry> Load(const std::string& bytes) {
  RegFileError error;
  auto registry = LoadRegImage(bytes, "image.reg", &error);
  EXPECT_NE(nullptr, registry) << error.ToString();
  return registry;
}

const std::vector<std::string> kProbeTree = {
    "[]",
    "@=\"say \"hi\" C:\\dir\\\"",
    "\"Name\"=\"caf\xE9 \x80 5\"",
    "\"two\nlines\"=\"a\nb\r\"",
    "\"dw\"=dword:0000002a",
    "\"bin\"=hex(3):01,02,ff",
    "\"exp\"=hex(2):25,50,25,00",
    "\"multi\"=hex(7):41,00,42,00,00",
    "\"none\"=hex(0):",
    "\"odd\"=hex(100):01",
    "\"empty\"=\"\"",
    "[Sub]",
    "[Sub\\Deep]",
    "\"x\"=\"y\"",
};

TEST(RegFileTest, ReadsEveryValueFormOfARegedit5File) {
  const std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n"
      u"\r\n"
      u"; a comment\r\n"
      u"[HKEY_LOCAL_MACHINE\\Software\\Probe]\r\n"
      u"@=\"say \\\"hi\\\" C:\\\\dir\\\\\"\r\n"
      u"\"Name\"=\"caf\u00e9 \u20ac 5\"\r\n"
      u"\"two\\nlines\"=\"a\\nb\\r\"\r\n"
      u"\"dw\"=dword:2A\r\n"
      u"  \"bin\" = hex:01,\\\r\n"
      u"    02,\\\r\n"
      u"  ff\r\n"
      u"\"exp\"=hex(2):25,00,50,00,25,00,00,00\r\n"
      u"\"multi\"=hex(7):41,00,00,00,42,00,00,00,00,00\r\n"
      u"\"none\"=hex(0):\r\n"
      u"\"odd\"=hex(100):01\r\n"
      u"\"empty\"=\"\"\r\n"
      u"\r\n"
      u"[HKEY_LOCAL_MACHINE\\Software\\Probe\\Sub\\Deep]\r\n"
      u"\"x\"=\"y\"\r\n";
  auto registry = Load(Utf16File(text));
  ASSERT_NE(nullptr, registry);
  EXPECT_EQ(kProbeTree, DescribeTree(*registry, "HKEY_LOCAL_MACHINE\\Software\\Probe"));
}

TEST(RegFileTest, ReadsTheSameImageFromARegedit4File) {
  // Code page 1252 text; hex(2) and hex(7) data are single-byte strings here.
  const std::string text =
      "REGEDIT4\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Probe]\n"
      "@=\"say \\\"hi\\\" C:\\\\dir\\\\\"\n"
      "\"Name\"=\"caf\xE9 \x80 5\"\n"
      "\"two\\nlines\"=\"a\\nb\\r\"\n"
      "\"dw\"=dword:0000002a\n"
      "\"bin\"=hex:01,02,ff\n"
      "\"exp\"=hex(2):25,50,25,00\n"
      "\"multi\"=hex(7):41,00,42,\\\n"
      "  00,00\n"
      "\"none\"=hex(0):\n"
      "\"odd\"=hex(100):01\n"
      "\"empty\"=\"\"\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Probe\\Sub\\Deep]\n"
      "\"x\"=\"y\"\n";
  auto registry = Load(text);
  ASSERT_NE(nullptr, registry);
  EXPECT_EQ(kProbeTree, DescribeTree(*registry, "HKEY_LOCAL_MACHINE\\Software\\Probe"));
}

TEST(RegFileTest, ClassesRootSectionsLandInTheMachineClassesKey) {
  auto registry = Load("REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\.plgf]\r\n@=\"Pellagor Language\"\r\n");
  ASSERT_NE(nullptr, registry);
  EXPECT_EQ((std::vector<std::string>{"[]", "@=\"Pellagor Language\""}),
            DescribeTree(*registry, "HKEY_LOCAL_MACHINE\\Software\\Classes\\.plgf"));
}

TEST(RegFileTest, RemovalsApplyInOrderToWhatIsThere) {
  MemoryRegistry registry;
  registry.SeedString("HKEY_CLASSES_ROOT\\Gone\\Child", "v", "1");
  registry.SeedString("HKEY_CLASSES_ROOT\\Kept", "", "default");
  registry.SeedString("HKEY_CLASSES_ROOT\\Kept", "drop", "x");
  registry.SeedString("HKEY_CLASSES_ROOT\\Kept", "stay", "y");
  RegFile file;
  RegFileError error;
  ASSERT_TRUE(
      ParseRegFile("REGEDIT4\r\n"
                   "[-HKEY_CLASSES_ROOT\\Gone]\r\n"
                   "[-HKEY_CLASSES_ROOT\\NeverThere]\r\n"
                   "[HKEY_CLASSES_ROOT\\Kept]\r\n"
                   "@=-\r\n"
                   "\"DROP\"=-\r\n"
                   "\"missing\"=-\r\n"
                   "\"new\"=\"n\"\r\n",
                   "changes.reg", &file, &error))
      << error.ToString();
  ApplyRegFile(file, &registry);
  EXPECT_FALSE(registry.KeyExists("HKEY_CLASSES_ROOT\\Gone"));
  EXPECT_EQ((std::vector<std::string>{"[]", "\"stay\"=\"y\"", "\"new\"=\"n\""}),
            DescribeTree(registry, "HKEY_CLASSES_ROOT\\Kept"));
}

// The layout `wine reg export HKLM\Software\PlgProbe` gives these values:
// values sorted by name, where hex lines break, the blank lines.
TEST(RegFileTest, ExportsAsRegExportDoes) {
  MemoryRegistry registry;
  const std::string top = "HKEY_LOCAL_MACHINE\\Software\\PlgProbe";
  std::vector<std::uint8_t> counting;
  for (int i = 1; i <= 0x30; ++i) counting.push_back(static_cast<std::uint8_t>(i));
  const std::vector<std::uint8_t> multi = {'A', 'B', 0, 'C', 0,   0, 'A', 'B', 0,
                                           'C', 0,   0, 'A', 'B', 0, 'C', 0,   0};
  registry.SeedKey(top + "\\Sub\\Deep");
  registry.SeedKey(top + "\\A");
  registry.SeedString(top + "\\Sub\\Deep", "x", "y");
  registry.SeedString(top, "Name", "text");
  registry.SeedValue(top, "odd", 0x100, {1});
  registry.SeedValue(top, "longnamelongnamelongnamelongname", kRegMultiSz, multi);
  registry.SeedValue(top, "bin", kRegBinary, counting);
  registry.SeedDword(top, "dw", 42);
  registry.SeedValue(top, "exp", kRegExpandSz, {'%', 'P', 'A', 'T', 'H', '%', 0});
  registry.SeedString(top, "", "default \"q\" back\\slash");
  registry.SeedValue(top, "none", kRegNone, {});
  registry.SeedString(top, "empty", "");
  registry.SeedValue(top, "emptybin", kRegBinary, {});

  const std::u16string expected =
      u"Windows Registry Editor Version 5.00\r\n"
      u"\r\n"
      u"[HKEY_LOCAL_MACHINE\\Software\\PlgProbe]\r\n"
      u"@=\"default \\\"q\\\" back\\\\slash\"\r\n"
      u"\"bin\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\r\n"
      u"  18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,30\r\n"
      u"\"dw\"=dword:0000002a\r\n"
      u"\"empty\"=\"\"\r\n"
      u"\"emptybin\"=hex:\r\n"
      u"\"exp\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00\r\n"
      u"\"longnamelongnamelongnamelongname\"=hex(7):41,00,42,00,00,00,43,00,00,00,00,00,\\\r\n"
      u"  41,00,42,00,00,00,43,00,00,00,00,00,41,00,42,00,00,00,43,00,00,00,00,00\r\n"
      u"\"Name\"=\"text\"\r\n"
      u"\"none\"=hex(0):\r\n"
      u"\"odd\"=hex(100):01\r\n"
      u"\r\n"
      u"[HKEY_LOCAL_MACHINE\\Software\\PlgProbe\\A]\r\n"
      u"\r\n"
      u"[HKEY_LOCAL_MACHINE\\Software\\PlgProbe\\Sub]\r\n"
      u"\r\n"
      u"[HKEY_LOCAL_MACHINE\\Software\\PlgProbe\\Sub\\Deep]\r\n"
      u"\"x\"=\"y\"\r\n"
      u"\r\n";
  EXPECT_EQ(Utf16File(expected), FormatRegFile(ExportRegistry(registry, top)));

  const std::string expected4 =
      "REGEDIT4\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\PlgProbe\\Sub\\Deep]\r\n"
      "\"x\"=\"y\"\r\n"
      "\r\n";
  EXPECT_EQ(expected4,
            FormatRegFile(ExportRegistry(registry, top + "\\Sub\\Deep", RegFileFormat::kRegedit4)));

  // One value line alone, wrapped as in the file or on one line.
  const RegFileValue bin{"bin", false, kRegBinary, counting};
  const std::u16string first =
      u"\"bin\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,"
      u"12,13,14,15,16,17,";
  const std::u16string rest =
      u"18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,"
      u"2c,2d,2e,2f,30";
  EXPECT_EQ(first + u"\\\r\n  " + rest, FormatRegFileValue(bin, RegFileFormat::kRegedit4));
  EXPECT_EQ(first + rest, FormatRegFileValue(bin, RegFileFormat::kRegedit4, RegFileWrap::kOneLine));
}

TEST(RegFileTest, ARootSectionIsWrittenOnlyWhenItHoldsValues) {
  MemoryRegistry registry;
  registry.SeedString("HKEY_CLASSES_ROOT\\.plgf", "", "Pellagor Language");
  const RegFile file = ExportRegistry(registry, "HKEY_LOCAL_MACHINE");
  ASSERT_EQ(3u, file.keys.size());
  EXPECT_EQ("HKEY_LOCAL_MACHINE\\Software", file.keys[0].path);
  EXPECT_EQ("HKEY_LOCAL_MACHINE\\Software\\Classes", file.keys[1].path);
  EXPECT_EQ("HKEY_LOCAL_MACHINE\\Software\\Classes\\.plgf", file.keys[2].path);
  EXPECT_TRUE(ExportRegistry(registry, "HKEY_LOCAL_MACHINE\\Missing").keys.empty());
}

TEST(RegFileTest, ExportedImagesReadBackUnchangedInBothFormats) {
  MemoryRegistry original;
  const std::string top = "HKEY_LOCAL_MACHINE\\Software\\Trip";
  original.SeedString(top, "", "C:\\Program Files\\x \"quoted\"");
  original.SeedString(top, "name \\ with \" marks", "\xE9\x80\x9F\xFF");
  original.SeedString(top, "lines", "one\r\ntwo\n");
  original.SeedValue(top, "embedded zero", kRegSz, {'a', 0, 'b', 0});
  original.SeedValue(top, "unterminated", kRegSz, {'a', 'b'});
  original.SeedValue(top, "no data", kRegSz, {});
  original.SeedValue(top, "short dword", kRegDword, {1, 2});
  original.SeedDword(top, "max", 0xFFFFFFFF);
  original.SeedValue(top, "multi", kRegMultiSz, {'a', 0, 0xE9, 0, 0});
  std::vector<std::uint8_t> long_binary(300);
  for (std::size_t i = 0; i < long_binary.size(); ++i) {
    long_binary[i] = static_cast<std::uint8_t>(i * 7);
  }
  original.SeedValue(top + "\\Deeper\\Still", std::string(90, 'n'), kRegBinary, long_binary);
  original.SeedValue(top + "\\Deeper", "type", 0x12345678, {9});
  original.SeedKey("HKEY_CLASSES_ROOT\\Empty Key");
  // The longest names the registry takes.
  original.SeedDword(top + "\\" + std::string(kMaxKeyNameLength, 'k'),
                     std::string(kMaxValueNameLength, 'v'), 1);

  for (RegFileFormat format : {RegFileFormat::kRegedit5, RegFileFormat::kRegedit4}) {
    SCOPED_TRACE(format == RegFileFormat::kRegedit5 ? "REGEDIT5" : "REGEDIT4");
    const RegFile exported = ExportRegistry(original, "HKEY_LOCAL_MACHINE", format);
    auto copy = Load(FormatRegFile(exported));
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(exported.keys, ExportRegistry(*copy, "HKEY_LOCAL_MACHINE", format).keys);
    // Values come back in the file's order; compare each key's lines as sets.
    auto sorted = [](std::vector<std::string> lines) {
      std::sort(lines.begin(), lines.end());
      return lines;
    };
    EXPECT_EQ(sorted(DescribeTree(original, top)), sorted(DescribeTree(*copy, top)));
    EXPECT_EQ(DescribeTree(original, top + "\\Deeper"), DescribeTree(*copy, top + "\\Deeper"));
    EXPECT_TRUE(copy->KeyExists("HKEY_CLASSES_ROOT\\Empty Key"));
  }
}

struct BadInput {
  const char* label;
  std::string bytes;
  std::size_t line;
  const char* message;  // part of the message
};

TEST(RegFileTest, BadInputNamesFileAndLineAndLoadsNothing) {
  const std::string head = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Ok]\r\n\"a\"=\"b\"\r\n";
  const std::vector<BadInput> cases = {
      {"empty file", "", 1, "not a registry file"},
      {"byte order mark only", "\xFF\xFE", 1, "not a registry file"},
      {"other header", "Windows Registry Editor Version 4.00\r\n", 1, "not a registry file"},
      {"odd UTF-16", "\xFF\xFEW\0i"s, 0, "odd number of bytes"},
      {"UTF-8", "\xEF\xBB\xBFREGEDIT4\r\n", 0, "UTF-8"},
      {"big-endian", "\xFE\xFF\0W"s, 0, "big-endian"},
      {"value before key", "REGEDIT4\r\n\"a\"=\"b\"\r\n", 2, "before the first [KEY]"},
      {"unclosed key", head + "[HKEY_LOCAL_MACHINE\\X\r\n", 4, "closing ']'"},
      {"other root", head + "[HKEY_CURRENT_USER\\X]\r\n", 4, "unsupported root key"},
      {"empty key name", head + "[HKEY_LOCAL_MACHINE\\A\\\\B]\r\n", 4, "empty key name"},
      {"long key name", head + "[HKEY_LOCAL_MACHINE\\" + std::string(257, 'k') + "]\r\n", 4,
       "longer than 256"},
      {"long value name", head + "\"" + std::string(16384, 'v') + "\"=\"b\"\r\n", 4,
       "value name too long"},
      {"root removal", head + "[-HKEY_CLASSES_ROOT]\r\n", 4, "cannot be removed"},
      {"software removal", head + "[-HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n", 4, "cannot be removed"},
      {"value in removal", head + "[-HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=\"b\"\r\n", 5,
       "[-KEY] section"},
      {"unclosed name", head + "\"a=b\r\n", 4, "closing quote"},
      {"no equals", head + "\"a\" \"b\"\r\n", 4, "expected '='"},
      {"empty name", head + "\"\"=\"b\"\r\n", 4, "empty value name"},
      {"unclosed text", head + "\"a\"=\"b\r\n", 4, "closing quote"},
      {"text after text", head + "\"a\"=\"b\" c\r\n", 4, "after the closing quote"},
      {"unknown escape", head + "\"a\"=\"\\t\"\r\n", 4, "unknown escape sequence \\t"},
      {"long dword", head + "\"a\"=dword:123456789\r\n", 4, "1 to 8 hex digits"},
      {"bad dword", head + "\"a\"=dword:12g4\r\n", 4, "1 to 8 hex digits"},
      {"unknown type", head + "\"a\"=qword:1\r\n", 4, "unknown value data"},
      {"bad hex type", head + "\"a\"=hex(x):01\r\n", 4, "hex(N)"},
      {"no colon", head + "\"a\"=hex 01\r\n", 4, "expected ':'"},
      {"bad byte on a later line", head + "\"a\"=hex:01,\\\r\n  02,\\\r\n  0x3\r\n", 6,
       "bad byte \"0x3\""},
      {"missing comma", head + "\"a\"=hex:01\\\r\n  02\r\n", 4, "bad byte \"0102\""},
      {"double comma", head + "\"a\"=hex:01,,02\r\n", 4, "bad byte \"\""},
      {"ends inside a value", head + "\"a\"=hex:01,\\\r\n", 4, "ends inside a continued value"},
      {"stray text", head + "a=b\r\n", 4, "unexpected text"},
      {"odd unicode string",
       Utf16File(u"Windows Registry Editor Version 5.00\r\n"
                 u"[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=hex(1):41\r\n"),
       3, "even number of bytes"},
      {"character outside 1252",
       Utf16File(u"Windows Registry Editor Version 5.00\r\n"
                 u"[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=\"\u4e2d\"\r\n"),
       3, "outside code page 1252"},
      {"key outside 1252",
       Utf16File(u"Windows Registry Editor Version 5.00\r\n"
                 u"[HKEY_LOCAL_MACHINE\\\u0416]\r\n"),
       2, "outside code page 1252"},
  };
  for (const BadInput& bad : cases) {
    SCOPED_TRACE(bad.label);
    RegFileError error;
    EXPECT_EQ(nullptr, LoadRegImage(bad.bytes, "machine.reg", &error));
    EXPECT_EQ("machine.reg", error.file);
    EXPECT_EQ(bad.line, error.line);
    EXPECT_NE(std::string::npos, error.message.find(bad.message)) << error.message;
    const std::string where =
        bad.line == 0 ? "machine.reg: " : "machine.reg:" + std::to_string(bad.line) + ": ";
    EXPECT_EQ(0u, error.ToString().rfind(where, 0)) << error.ToString();
  }
}

TEST(RegFileTest, AFailedParseLeavesTheResultUntouched) {
  RegFile file;
  file.keys.push_back({"HKEY_LOCAL_MACHINE\\Before", false, {}});
  RegFileError error;
  EXPECT_FALSE(
      ParseRegFile("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\New]\r\nbad\r\n", "f.reg", &file, &error));
  ASSERT_EQ(1u, file.keys.size());
  EXPECT_EQ("HKEY_LOCAL_MACHINE\\Before", file.keys[0].path);
}

TEST(RegFileTest, ReadsFilesAndNamesTheOneItCannotOpen) {
  const std::string path = ::testing::TempDir() + "reg_file_test_image.reg";
  {
    std::ofstream out(path, std::ios::binary);
    out << Utf16File(
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\Software\\F]\r\n\"v\"=dword:00000001\r\n\r\n");
  }
  RegFileError error;
  auto registry = LoadRegImageFile(path, &error);
  ASSERT_NE(nullptr, registry) << error.ToString();
  EXPECT_EQ((std::vector<std::string>{"[]", "\"v\"=dword:00000001"}),
            DescribeTree(*registry, "HKEY_LOCAL_MACHINE\\Software\\F"));
  std::remove(path.c_str());

  EXPECT_EQ(nullptr, LoadRegImageFile(path, &error));
  EXPECT_EQ(path, error.file);
  EXPECT_EQ(0u, error.line);
  EXPECT_NE(std::string::npos, error.message.find("cannot open")) << error.message;
}

}  // namespace
}  // namespace plg
