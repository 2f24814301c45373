// The registry contract: what registration relies on the registry to do.
// Runs natively against MemoryRegistry and under Wine against Win32Registry;
// where the two disagree, the in-memory registry is wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/registry_value_enumerator.h"
#include "tests/platform/contract/registry_under_test.h"

namespace plg::contract {
namespace {

constexpr char kScratchRoot[] = "Software\\PlgRegistryContract";

class RegistryContract : public ::testing::Test {
 protected:
  void SetUp() override {
    under_test_ = MakeRegistryUnderTest();
    scratch_ = std::string(kScratchRoot) + "\\" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
    DeleteTree(RegKey::LocalMachine(), scratch_);
    ASSERT_EQ(kSuccess, reg().CreateKey(RegKey::LocalMachine(), scratch_, kKeyAllAccess, &top_));
  }

  void TearDown() override {
    top_.Close();
    DeleteTree(RegKey::LocalMachine(), scratch_);
    // Removes the shared parent once the last test has gone.
    static_cast<void>(reg().DeleteKey(RegKey::LocalMachine(), kScratchRoot));
  }

  Registry& reg() { return *under_test_.registry; }
  RegistryValueEnumerator& values() { return *under_test_.values; }

  // Test-local tree deletion, so the contract does not lean on module code.
  void DeleteTree(const RegKey& parent, const std::string& path) {
    RegKey key;
    if (reg().OpenKey(parent, path, kKeyAllAccess, &key) == kSuccess) {
      std::vector<std::string> names;
      std::string name;
      for (std::uint32_t i = 0; reg().EnumKey(key, i, 1024, &name) == kSuccess; ++i) {
        names.push_back(name);
      }
      key.Close();
      for (const std::string& child : names) DeleteTree(parent, path + "\\" + child);
    }
    static_cast<void>(reg().DeleteKey(parent, path));
  }

  RegKey Create(const std::string& path) {
    RegKey key;
    EXPECT_EQ(kSuccess, reg().CreateKey(top_, path, kKeyAllAccess, &key)) << path;
    return key;
  }

  bool Exists(const std::string& path) {
    RegKey key;
    return reg().OpenKey(top_, path, kKeyRead, &key) == kSuccess;
  }

  std::vector<std::string> SubkeyNames(const RegKey& key) {
    std::vector<std::string> names;
    std::string name;
    for (std::uint32_t i = 0; reg().EnumKey(key, i, 1024, &name) == kSuccess; ++i) {
      names.push_back(name);
    }
    return names;
  }

  RegistryUnderTest under_test_;
  std::string scratch_;
  RegKey top_;
};

std::vector<std::uint8_t> Bytes(const char* data, std::size_t size) {
  return std::vector<std::uint8_t>(data, data + size);
}

// --- Keys and names ---

TEST_F(RegistryContract, CreateMakesMissingParentsAndOpenFindsThem) {
  RegKey deep = Create("a\\b\\c");
  EXPECT_TRUE(deep.valid());
  EXPECT_TRUE(Exists("a"));
  EXPECT_TRUE(Exists("a\\b"));
  EXPECT_TRUE(Exists("a\\b\\c"));
  EXPECT_EQ(scratch_.size() + std::strlen("HKEY_LOCAL_MACHINE\\") + 6, deep.path().size());
}

TEST_F(RegistryContract, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
  Create("MixedCase");
  RegKey again = Create("MIXEDCASE");
  EXPECT_EQ(std::vector<std::string>{"MixedCase"}, SubkeyNames(top_));
  EXPECT_TRUE(Exists("mixedcase"));

  ASSERT_EQ(kSuccess, reg().SetString(again, "Value", "first"));
  ASSERT_EQ(kSuccess, reg().SetString(again, "VALUE", "second"));
  RegValue value;
  ASSERT_EQ(kSuccess, reg().QueryValue(again, "value", 64, &value));
  EXPECT_EQ(Bytes("second", 7), value.data);
  KeyInfo info;
  ASSERT_EQ(kSuccess, reg().QueryInfo(again, &info));
  EXPECT_EQ(1u, info.values);
}

TEST_F(RegistryContract, OpeningAMissingKeyFailsAndLeavesTheKeyUntouched) {
  RegKey key;
  EXPECT_EQ(kErrorFileNotFound, reg().OpenKey(top_, "missing", kKeyRead, &key));
  EXPECT_EQ(kErrorFileNotFound, reg().OpenKey(top_, "missing\\deeper", kKeyRead, &key));
  EXPECT_FALSE(key.valid());
}

TEST_F(RegistryContract, OpenAcceptsOneTrailingBackslash) {
  Create("container\\child");
  RegKey key;
  ASSERT_EQ(kSuccess, reg().OpenKey(top_, "container\\", kMaximumAllowed, &key));
  EXPECT_EQ(std::vector<std::string>{"child"}, SubkeyNames(key));
}

TEST_F(RegistryContract, PathsThatWouldFoldOntoTheParentAreRefused) {
  Create("kept\\child");
  for (const char* path : {"", "\\kept", "kept\\", "kept\\\\child", "\\"}) {
    SCOPED_TRACE(std::string("path '") + path + "'");
    RegKey key;
    EXPECT_EQ(kErrorBadPathname, reg().CreateKey(top_, path, kKeyAllAccess, &key));
    EXPECT_FALSE(key.valid());
    EXPECT_EQ(kErrorBadPathname, reg().DeleteKey(top_, path));
  }
  RegKey key;
  EXPECT_EQ(kErrorBadPathname, reg().OpenKey(top_, "", kKeyRead, &key));
  EXPECT_EQ(kErrorBadPathname, reg().OpenKey(top_, "kept\\\\", kKeyRead, &key));
  EXPECT_EQ(kErrorBadPathname, reg().OpenKey(top_, "\\kept", kKeyRead, &key));
  // Nothing was created or removed.
  EXPECT_EQ(std::vector<std::string>{"kept"}, SubkeyNames(top_));
  EXPECT_TRUE(Exists("kept\\child"));
}

TEST_F(RegistryContract, KeyNameLengthLimits) {
  const std::string longest(255, 'k');
  RegKey key;
  EXPECT_EQ(kSuccess, reg().CreateKey(top_, longest, kKeyAllAccess, &key));
  key.Close();
  RegKey too_long;
  EXPECT_EQ(kErrorInvalidParameter,
            reg().CreateKey(top_, std::string(257, 'k'), kKeyAllAccess, &too_long));
  EXPECT_FALSE(too_long.valid());
}

// Wine converts an ANSI subkey path through a buffer of 260 characters.
TEST_F(RegistryContract, AnsiSubkeyPathsLongerThan260AreRefused) {
  std::string path;
  while (path.size() < 270) path += "segment\\";
  path += "end";
  RegKey key;
  EXPECT_EQ(kErrorMoreData, reg().CreateKey(top_, path, kKeyAllAccess, &key));
  EXPECT_EQ(kErrorMoreData, reg().OpenKey(top_, path, kKeyRead, &key));
  EXPECT_FALSE(Exists("segment"));
}

TEST_F(RegistryContract, ClassesRootIsTheMachineClassesKey) {
  const std::string name = "PlgRegistryContractClass";
  RegKey created;
  ASSERT_EQ(kSuccess, reg().CreateKey(RegKey::ClassesRoot(), name, kKeyAllAccess, &created));
  ASSERT_EQ(kSuccess, reg().SetString(created, "", "through classes root"));
  created.Close();
  RegKey seen;
  ASSERT_EQ(kSuccess,
            reg().OpenKey(RegKey::LocalMachine(), "Software\\Classes\\" + name, kKeyRead, &seen));
  RegValue value;
  ASSERT_EQ(kSuccess, reg().QueryValue(seen, "", 64, &value));
  EXPECT_EQ(Bytes("through classes root", 21), value.data);
  seen.Close();
  EXPECT_EQ(kSuccess, reg().DeleteKey(RegKey::ClassesRoot(), name));
}

TEST_F(RegistryContract, NonAsciiNamesConvertThroughTheAnsiCodePage) {
  Create("Caf\xe9");
  Create("Price \x80");
  std::vector<std::u16string> wide;
  std::u16string name;
  for (std::uint32_t i = 0; reg().EnumKeyW(top_, i, 100, &name) == kSuccess; ++i) {
    wide.push_back(name);
  }
  ASSERT_EQ(2u, wide.size());
  EXPECT_EQ(u"Caf\u00e9", wide[0]);
  EXPECT_EQ(u"Price \u20ac", wide[1]);
  EXPECT_TRUE(Exists("CAF\xc9"));  // the upper-case form of the accented letter
  // The seam names the same conversion.
  EXPECT_EQ(wide[0], reg().WideNameOf("Caf\xe9"));
  EXPECT_EQ(wide[1], reg().WideNameOf("Price \x80"));
}

// --- Deleting ---

TEST_F(RegistryContract, DeletingAKeyWithSubkeysIsDenied) {
  Create("parent\\child");
  EXPECT_EQ(kErrorAccessDenied, reg().DeleteKey(top_, "parent"));
  EXPECT_TRUE(Exists("parent\\child"));
  EXPECT_EQ(kSuccess, reg().DeleteKey(top_, "parent\\child"));
  EXPECT_EQ(kSuccess, reg().DeleteKey(top_, "parent"));
  EXPECT_FALSE(Exists("parent"));
}

TEST_F(RegistryContract, DeletingAMissingKeyIsFileNotFound) {
  EXPECT_EQ(kErrorFileNotFound, reg().DeleteKey(top_, "missing"));
  EXPECT_EQ(kErrorFileNotFound, reg().DeleteKey(top_, "missing\\deeper"));
}

TEST_F(RegistryContract, AHandleToADeletedKeyAnswersKeyDeleted) {
  RegKey stale = Create("doomed");
  ASSERT_EQ(kSuccess, reg().DeleteKey(top_, "doomed"));
  EXPECT_FALSE(Exists("doomed"));
  RegValue value;
  KeyInfo info;
  std::string name;
  RegKey child;
  EXPECT_EQ(kErrorKeyDeleted, reg().SetString(stale, "v", "x"));
  EXPECT_EQ(kErrorKeyDeleted, reg().QueryValue(stale, "v", 16, &value));
  EXPECT_EQ(kErrorKeyDeleted, reg().QueryInfo(stale, &info));
  EXPECT_EQ(kErrorKeyDeleted, reg().EnumKey(stale, 0, 64, &name));
  EXPECT_EQ(kErrorKeyDeleted, values().EnumValue(stale, 0, &name, &value));
  EXPECT_EQ(kErrorKeyDeleted, reg().CreateKey(stale, "child", kKeyAllAccess, &child));
  EXPECT_FALSE(child.valid());
  stale.Close();
  EXPECT_FALSE(Exists("doomed"));
}

TEST_F(RegistryContract, DeletingAValue) {
  RegKey key = Create("values");
  ASSERT_EQ(kSuccess, reg().SetString(key, "gone", "x"));
  EXPECT_EQ(kSuccess, reg().DeleteValue(key, "GONE"));
  EXPECT_EQ(kErrorFileNotFound, reg().DeleteValue(key, "gone"));
  RegValue value;
  EXPECT_EQ(kErrorFileNotFound, reg().QueryValue(key, "gone", 16, &value));
}

// --- Enumerating ---

TEST_F(RegistryContract, EnumerationIsStableAndEndsWithNoMoreItems) {
  for (const char* name : {"delta", "Alpha", "charlie", "Bravo"}) Create(name);
  const std::vector<std::string> first = SubkeyNames(top_);
  EXPECT_EQ((std::vector<std::string>{"Alpha", "Bravo", "charlie", "delta"}), first);
  EXPECT_EQ(first, SubkeyNames(top_));
  std::string name = "untouched";
  EXPECT_EQ(kErrorNoMoreItems, reg().EnumKey(top_, 4, 64, &name));
  EXPECT_EQ("untouched", name);
}

TEST_F(RegistryContract, ANameThatDoesNotFitIsMoreDataAndLeavesTheOutputAlone) {
  Create("twelve-chars");
  std::string name = "untouched";
  // The capacity counts the terminating zero.
  EXPECT_EQ(kErrorMoreData, reg().EnumKey(top_, 0, 12, &name));
  EXPECT_EQ("untouched", name);
  EXPECT_EQ(kSuccess, reg().EnumKey(top_, 0, 13, &name));
  EXPECT_EQ("twelve-chars", name);

  std::u16string wide = u"untouched";
  EXPECT_EQ(kErrorMoreData, reg().EnumKeyW(top_, 0, 12, &wide));
  EXPECT_EQ(u"untouched", wide);
  EXPECT_EQ(kSuccess, reg().EnumKeyW(top_, 0, 13, &wide));
  EXPECT_EQ(u"twelve-chars", wide);
}

// Value enumeration is the tools' (registration never enumerates values).
// Windows gives values in creation order and Wine sorted by name, so only the
// set of values and a stable order are asserted.
TEST_F(RegistryContract, EnumeratingValuesGivesEachWholeOnceThenNoMoreItems) {
  RegKey key = Create("enumerated");
  const std::string long_name(300, 'n');
  const std::string long_data(5000, '\xbd');
  // Sizes as SetValue takes them; each text is readable one byte further.
  const struct {
    std::string name;
    ValueType type;
    const char* data;
    std::size_t size;
  } cases[] = {
      {"", kRegSz, "default", 8},
      {"Text", kRegSz, "abc", 4},
      {"unterminated", kRegSz, "abc", 2},
      {"number", kRegDword, "\x04\x03\x02\x01", 4},
      {"binary", kRegBinary, "a\0b", 3},
      {"Caf\xe9", kRegExpandSz, "%x%\xe9", 5},
      {long_name, kRegBinary, long_data.c_str(), long_data.size()},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(kSuccess, reg().SetValue(key, c.name, c.type, c.data, c.size));
  }
  // Rewritten with other case: one value, under its first spelling.
  ASSERT_EQ(kSuccess, reg().SetValue(key, "TEXT", kRegSz, "abc", 4));

  const auto enumerate = [&] {
    std::vector<std::pair<std::string, RegValue>> found;
    std::string name;
    RegValue value;
    RegStatus status;
    for (std::uint32_t i = 0; (status = values().EnumValue(key, i, &name, &value)) == kSuccess;
         ++i) {
      found.emplace_back(name, value);
    }
    EXPECT_EQ(kErrorNoMoreItems, status);
    return found;
  };
  const auto found = enumerate();
  std::map<std::string, RegValue> by_name(found.begin(), found.end());
  ASSERT_EQ(std::size(cases), found.size());
  ASSERT_EQ(std::size(cases), by_name.size());
  for (const auto& c : cases) {
    SCOPED_TRACE("value '" + c.name.substr(0, 20) + "'");
    ASSERT_EQ(1u, by_name.count(c.name));
    EXPECT_EQ(c.type, by_name[c.name].type);
    EXPECT_EQ(Bytes(c.data, c.size), by_name[c.name].data);
  }
  const auto again = enumerate();
  for (std::size_t i = 0; i < found.size() && i < again.size(); ++i) {
    EXPECT_EQ(found[i].first, again[i].first) << i;
  }

  std::string name = "untouched";
  RegValue value;
  value.type = 0xbd;
  EXPECT_EQ(kErrorNoMoreItems, values().EnumValue(key, std::size(cases), &name, &value));
  EXPECT_EQ("untouched", name);
  EXPECT_EQ(0xbdu, value.type);
  EXPECT_TRUE(value.data.empty());
}

TEST_F(RegistryContract, QueryInfoCountsSubkeysAndValuesWithTheDefaultValue) {
  RegKey key = Create("counted");
  Create("counted\\one");
  Create("counted\\two");
  KeyInfo info;
  ASSERT_EQ(kSuccess, reg().QueryInfo(key, &info));
  EXPECT_EQ(2u, info.subkeys);
  EXPECT_EQ(0u, info.values);
  ASSERT_EQ(kSuccess, reg().SetString(key, "named", "x"));
  ASSERT_EQ(kSuccess, reg().SetString(key, "", "default"));
  ASSERT_EQ(kSuccess, reg().QueryInfo(key, &info));
  EXPECT_EQ(2u, info.values);
}

// --- Values ---

TEST_F(RegistryContract, StringLengthsAndTheTerminatingZero) {
  RegKey key = Create("strings");
  const char text[] = "abc";
  ASSERT_EQ(kSuccess, reg().SetValue(key, "counted", kRegSz, text, 4));
  ASSERT_EQ(kSuccess, reg().SetValue(key, "uncounted", kRegSz, text, 3));
  ASSERT_EQ(kSuccess, reg().SetValue(key, "short", kRegSz, text, 2));
  ASSERT_EQ(kSuccess, reg().SetValue(key, "empty", kRegSz, text, 0));
  struct Case {
    const char* name;
    std::vector<std::uint8_t> data;
  } cases[] = {
      {"counted", Bytes("abc", 4)},
      {"uncounted", Bytes("abc", 4)},  // the zero after the text is counted
      {"short", Bytes("ab", 2)},
      {"empty", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RegValue value;
    ASSERT_EQ(kSuccess, reg().QueryValue(key, c.name, 64, &value));
    EXPECT_EQ(kRegSz, value.type);
    EXPECT_EQ(c.data, value.data);
  }
}

TEST_F(RegistryContract, ValuesOfOtherTypesComeBackAsRawBytes) {
  RegKey key = Create("raw");
  ASSERT_EQ(kSuccess, reg().SetDword(key, "number", 0x01020304));
  const char binary[] = {'a', 0, 'b', 0, 'c'};
  ASSERT_EQ(kSuccess, reg().SetValue(key, "binary", kRegBinary, binary, sizeof binary));
  RegValue value;
  ASSERT_EQ(kSuccess, reg().QueryValue(key, "number", 4, &value));
  EXPECT_EQ(kRegDword, value.type);
  EXPECT_EQ((std::vector<std::uint8_t>{4, 3, 2, 1}), value.data);
  ASSERT_EQ(kSuccess, reg().QueryValue(key, "binary", 5, &value));
  EXPECT_EQ(kRegBinary, value.type);
  EXPECT_EQ(Bytes(binary, sizeof binary), value.data);
}

TEST_F(RegistryContract, ReadingIntoATooSmallBufferIsMoreDataAndLeavesTheOutputAlone) {
  RegKey key = Create("small");
  ASSERT_EQ(kSuccess, reg().SetString(key, "v", "0123456789"));
  RegValue value;
  value.type = 0xbd;
  value.data = {0xbd, 0xbd};
  EXPECT_EQ(kErrorMoreData, reg().QueryValue(key, "v", 10, &value));
  EXPECT_EQ(0xbdu, value.type);
  EXPECT_EQ((std::vector<std::uint8_t>{0xbd, 0xbd}), value.data);
  EXPECT_EQ(kSuccess, reg().QueryValue(key, "v", 11, &value));
  EXPECT_EQ(Bytes("0123456789", 11), value.data);
}

TEST_F(RegistryContract, MissingValuesIncludingAnUnsetDefaultAreFileNotFound) {
  RegKey key = Create("defaults");
  RegValue value;
  EXPECT_EQ(kErrorFileNotFound, reg().QueryValue(key, "", 64, &value));
  EXPECT_EQ(kErrorFileNotFound, reg().QueryValue(key, "absent", 64, &value));
  ASSERT_EQ(kSuccess, reg().SetString(key, "", "set"));
  EXPECT_EQ(kSuccess, reg().QueryValue(key, "", 64, &value));
  EXPECT_EQ(Bytes("set", 4), value.data);
}

TEST_F(RegistryContract, RewritingAValueReplacesTypeAndData) {
  RegKey key = Create("rewrite");
  ASSERT_EQ(kSuccess, reg().SetString(key, "v", "a long first text"));
  ASSERT_EQ(kSuccess, reg().SetDword(key, "v", 7));
  RegValue value;
  ASSERT_EQ(kSuccess, reg().QueryValue(key, "v", 64, &value));
  EXPECT_EQ(kRegDword, value.type);
  EXPECT_EQ((std::vector<std::uint8_t>{7, 0, 0, 0}), value.data);
}

}  // namespace
}  // namespace plg::contract
