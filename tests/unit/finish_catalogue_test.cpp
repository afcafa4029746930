#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <set>
#include <string>
#include <vector>

#include "catalogue/finish_catalogue.h"
#include "ntfs/file_name.h"

namespace tarnwick {
namespace {

NameRef Ref(const std::u16string& text) { return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}; }

std::u16string Text(const std::uint16_t* field) {
    std::u16string out;
    for (; *field != 0; ++field) out.push_back(static_cast<char16_t>(*field));
    return out;
}

class Finish : public ::testing::Test {
protected:
    ~Finish() override {
        entries.Clear();
        names.Clear();
    }

    ResultRecord_Internal& Add(std::int32_t parentId, std::int32_t id, std::int32_t nameSpace, const std::u16string& name,
                               const std::u16string& parentName = u"dir") {
        ResultRecord_Internal& e = entries.Append();
        e.parentId = parentId;
        e.id = id;
        e.nameSpace = nameSpace;
        CopyName(e.name, Ref(name));
        CopyName(e.parentName, Ref(parentName));
        e.flag = 3;
        return e;
    }

    void Name(std::int32_t number, const std::u16string& name, std::int32_t flags) {
        const std::u16string copy = name;
        names.Append(number, Ref(copy), flags);
    }

    std::u16string NameAt(std::size_t i) { return Text(entries[i].name); }

    EntryList entries;
    RecordNameList names;
};

TEST_F(Finish, NoEntryIsReportedAndLeavesTheNamesUnsorted) {
    Name(9, u"b", 1);
    Name(3, u"a", 1);
    EXPECT_EQ(FinishCatalogue(entries, names), -101);
    EXPECT_EQ(names[0].recordNumber, 9);
}

TEST_F(Finish, KeepsTheLongNameOfAWin32AndDosPairInEitherOrder) {
    Add(5, 40, 1, u"Long Name.txt");
    Add(5, 40, 2, u"LONGNA~1.TXT");
    Add(5, 41, 2, u"OTHER~1.TXT");
    Add(5, 41, 1, u"Other file.txt");
    ASSERT_EQ(FinishCatalogue(entries, names), 0);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(NameAt(0), u"Long Name.txt");
    EXPECT_EQ(NameAt(1), u"Other file.txt");
}

TEST_F(Finish, DropsPosixNamesBesideAnotherNameOfTheSameFile) {
    Add(5, 50, 0, u"posix");
    Add(5, 50, 1, u"Win32");
    Add(5, 51, 0, u"link one");  // two POSIX hard links in one directory: both go
    Add(5, 51, 0, u"link two");
    Add(6, 51, 0, u"elsewhere");  // a hard link in another directory stays
    ASSERT_EQ(FinishCatalogue(entries, names), 0);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(NameAt(0), u"Win32");
    EXPECT_EQ(NameAt(1), u"elsewhere");
}

TEST_F(Finish, UnresolvablePairsFailWithTheCodeOfTheSecondNamespace) {
    struct Case {
        std::int32_t first, second, status;
    } cases[] = {{1, 1, -1001}, {3, 3, -1000}, {1, 3, -1000}, {3, 1, -1001}, {2, 2, -1001}};
    for (const Case& c : cases) {
        entries.Clear();
        Add(5, 60, c.first, u"a");
        Add(5, 60, c.second, u"b");
        EXPECT_EQ(FinishCatalogue(entries, names), c.status) << c.first << "," << c.second;
    }
}

TEST_F(Finish, ResolvesDosOnlyNamesAndEmptyParentNamesThroughTheRecordNames) {
    Name(70, u"The Long Name", 1);
    Name(5, u".", 3);
    Name(8, u"parent dir", 3);
    Add(5, 70, 2, u"THELON~1");
    Add(8, 71, 1, u"child", u"");
    ASSERT_EQ(FinishCatalogue(entries, names), 0);
    EXPECT_EQ(NameAt(0), u"The Long Name");
    EXPECT_EQ(entries[0].nameSpace, 3);
    EXPECT_EQ(Text(entries[1].parentName), u"parent dir");

    entries.Clear();
    Add(5, 72, 2, u"NONAME~1");
    EXPECT_EQ(FinishCatalogue(entries, names), -1002);
    entries.Clear();
    Add(99, 73, 1, u"orphan", u"");
    EXPECT_EQ(FinishCatalogue(entries, names), -1003);
}

TEST_F(Finish, FlagsComeFromTheEntrysOwnRecordOrDefaultToAFile) {
    Name(80, u"a directory", 3);
    Name(81, u"a file", 1);
    Add(5, 80, 1, u"a directory").flag = 3;
    Add(5, 81, 1, u"a file");
    Add(5, 82, 1, u"unknown record");
    ASSERT_EQ(FinishCatalogue(entries, names), 0);
    EXPECT_EQ(entries[0].flag, 3);
    EXPECT_EQ(entries[1].flag, 1);
    EXPECT_EQ(entries[2].flag, 1);
}

TEST_F(Finish, ANameFromAnExtensionRecordTakesTheBaseRecordsFlags) {
    // Record 2 is a directory whose name had to move to an extension record:
    // only its base record's flags say it is a directory.
    names.NoteBaseFlags(0, 1);  // record 1 had no "FILE" signature
    names.NoteBaseFlags(2, 3);
    const std::u16string dir = u"a directory with a very long name";
    names.Append(2, Ref(dir), 1, kFromExtensionRecord);
    names.Append(7, Ref(dir), 1, kFromExtensionRecord);  // a base the pass never saw
    Add(5, 2, 1, dir);
    Add(5, 7, 1, dir);
    ASSERT_EQ(FinishCatalogue(entries, names), 0);
    EXPECT_EQ(entries[0].flag, 3);
    EXPECT_EQ(entries[1].flag, 1);
}

TEST_F(Finish, SortsBySignedIdAndMayLeaveNothing) {
    Add(5, -5, 1, u"high record number");
    Add(5, 7, 1, u"seven");
    Add(5, 3, 1, u"three");
    ASSERT_EQ(FinishCatalogue(entries, names), 0);
    EXPECT_EQ(entries[0].id, -5);
    EXPECT_EQ(entries[1].id, 3);
    EXPECT_EQ(entries[2].id, 7);

    entries.Clear();
    Add(5, 9, 0, u"x");
    Add(5, 9, 0, u"y");
    EXPECT_EQ(FinishCatalogue(entries, names), 0);
    EXPECT_TRUE(entries.empty());
}

TEST_F(Finish, OrdersByIdThenParentForDenseAndSparseIds) {
    // Files with names under several parents (hard links), appended in a
    // scrambled order, ids close together and then spread over the whole
    // signed range: both must come out sorted by id, then parent.
    for (const std::int32_t spread : {1, 4000000}) {
        entries.Clear();
        std::set<std::pair<std::int32_t, std::int32_t>> expected;
        std::uint32_t seed = 12345;
        for (std::int32_t i = 0; i < 3000; ++i) {
            seed = seed * 1103515245u + 12345u;
            const std::int32_t id = (static_cast<std::int32_t>((seed >> 8) % 1000) - 500) * spread;
            const auto parent = static_cast<std::int32_t>((seed >> 20) % 3);
            if (expected.insert({id, parent}).second) Add(parent, id, 1, u"name");
        }
        ASSERT_EQ(FinishCatalogue(entries, names), 0) << "spread " << spread;
        ASSERT_EQ(entries.size(), expected.size());
        std::size_t i = 0;
        for (const auto& [id, parent] : expected) {
            ASSERT_EQ(entries[i].id, id) << "spread " << spread << " at " << i;
            ASSERT_EQ(entries[i].parentId, parent) << "spread " << spread << " at " << i;
            ++i;
        }
    }
}

TEST_F(Finish, EntriesKeepTheirAddressesThroughSortingAndCutting) {
    ResultRecord_Internal* kept = &Add(5, 90, 1, u"kept");
    Add(5, 90, 2, u"KEPT~1");
    ResultRecord_Internal* first = &Add(5, 1, 1, u"first");
    ASSERT_EQ(FinishCatalogue(entries, names), 0);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(&entries[0], first);
    EXPECT_EQ(&entries[1], kept);
}

TEST(FindRecordName, HalvesTheSortedNumbers) {
    RecordNameList list;
    EXPECT_EQ(list.Find(7), -1);
    const std::u16string n = u"n";
    for (std::int32_t number : {9, 5, 7}) list.Append(number, {reinterpret_cast<const std::uint8_t*>(n.data()), 1}, 1);
    list.Sort();
    EXPECT_EQ(list.Find(7), 1);
    EXPECT_EQ(list.Find(5), 0);
    EXPECT_EQ(list.Find(9), 2);
    for (std::int32_t missing : {4, 6, 10, INT32_MIN, INT32_MAX}) EXPECT_EQ(list.Find(missing), -1) << missing;
}

// The halving as first written, over the sorted numbers: the table by number
// must give the same element, also among several with one number.
std::int32_t HalvingAnswer(const std::vector<std::int32_t>& numbers, std::int32_t wanted) {
    if (numbers.empty()) return -1;
    std::size_t lo = 0;
    std::size_t hi = numbers.size() - 1;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (numbers[mid] < wanted) {
            lo = mid + 1;
        } else if (numbers[mid] > wanted) {
            if (mid == 0) return -1;
            hi = mid - 1;
        } else {
            return static_cast<std::int32_t>(mid);
        }
    }
    return numbers[lo] == wanted ? static_cast<std::int32_t>(lo) : -1;
}

TEST(FindRecordName, DenseAndSparseNumbersGiveTheHalvingsAnswer) {
    const std::u16string n = u"n";
    const NameRef name{reinterpret_cast<const std::uint8_t*>(n.data()), 1};
    struct Case {
        const char* what;
        std::vector<std::int32_t> numbers;
    };
    std::vector<Case> cases = {
        {"dense with repeats", {}},
        {"with negatives", {-5, -5, 0, 1, 1, 1, 2, 7, 7}},
        {"sparse", {3, 3, 3, 1000000000, 1000000000, 5}},
    };
    for (std::int32_t i = 0; i < 3000; ++i) {
        for (std::int32_t k = 0; k <= i % 4; ++k) cases[0].numbers.push_back(i % 7 == 3 ? i + 1 : i);
    }
    for (const Case& c : cases) {
        RecordNameList list;
        for (std::size_t i = 0; i < c.numbers.size(); ++i) {
            list.Append(c.numbers[i], name, static_cast<std::int32_t>(i));
        }
        list.Sort();
        std::vector<std::int32_t> sorted = c.numbers;
        std::sort(sorted.begin(), sorted.end());
        std::vector<std::int32_t> probes = {INT32_MIN, -6, -5, -1, 1000000000, 1000000001, INT32_MAX};
        for (std::int32_t i = 0; i < 3010; ++i) probes.push_back(i);
        for (std::int32_t probe : probes) {
            const std::int32_t want = HalvingAnswer(sorted, probe);
            ASSERT_EQ(list.Find(probe), want) << c.what << ", number " << probe;
            if (want >= 0) {
                EXPECT_EQ(list.FlagsOf(probe, -7), list[static_cast<std::size_t>(want)].flags) << c.what;
            } else {
                EXPECT_EQ(list.FlagsOf(probe, -7), -7) << c.what;
            }
        }
    }
}

}  // namespace
}  // namespace tarnwick
