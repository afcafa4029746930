#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <set>
#include <string>
#include <vector>

#include "catalogue/finish_catalogue.h"
#include "catalogue_text.h"
#include "ntfs/file_name.h"

namespace tarnwick {
namespace {

using testing::Text;

NameRef Ref(const std::u16string& text) { return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}; }

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

// Where several names share a record number, the one found decides which
// long name a DOS-only entry takes: it is the element the halving over the
// sorted numbers reaches first (worked out by hand here), whether the lookup
// goes through a table by number (small numbers) or searches (the same
// numbers moved far apart, or below zero).
TEST(FindRecordName, AmongEqualNumbersTheHalvingsFirstHitIsFound) {
    const std::u16string n = u"n";
    const NameRef name{reinterpret_cast<const std::uint8_t*>(n.data()), 1};
    struct Case {
        std::vector<std::int32_t> numbers;  // ascending; equal ones keep their order of appending
        std::int32_t wanted;
        std::int32_t position;  // in the sorted list
    };
    const std::vector<Case> cases = {
        {{5, 5, 5}, 5, 1},                        // the first middle is a 5
        {{5, 5, 5, 5}, 5, 1},                     // middles round down
        {{1, 1, 1, 5, 5, 6}, 5, 4},               // up past the 1s, then the middle is the second 5
        {{5, 5, 7, 7, 7, 7, 7, 9}, 5, 1},         // down past the 7s to [0, 2]
        {{5, 5, 7, 7, 7, 7, 7, 9}, 7, 3},
        {{5, 5, 7, 7, 7, 7, 7, 9}, 9, 7},         // up to the last, found when the interval closes
        {{2, 2, 2, 2, 2, 2, 2, 2, 2, 4}, 2, 4},
        {{1, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 8}, 4, 8},
    };
    for (const std::int64_t shift : {0LL, 1000000000LL, -1000LL}) {
        for (const Case& c : cases) {
            RecordNameList list;
            // Appended largest first, so the sort has work to do; equal numbers in their given order.
            std::vector<std::size_t> order(c.numbers.size());
            for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
            std::stable_sort(order.begin(), order.end(),
                             [&](std::size_t a, std::size_t b) { return c.numbers[a] > c.numbers[b]; });
            for (std::size_t i : order) {
                list.Append(static_cast<std::int32_t>(c.numbers[i] + shift), name, static_cast<std::int32_t>(100 + i));
            }
            list.Sort();
            const auto wanted = static_cast<std::int32_t>(c.wanted + shift);
            EXPECT_EQ(list.Find(wanted), c.position) << "shift " << shift << ", number " << c.wanted;
            EXPECT_EQ(list.FlagsOf(wanted, -7), 100 + c.position) << "shift " << shift << ", number " << c.wanted;
            for (const std::int32_t absent : {0, 3, 10}) {
                EXPECT_EQ(list.Find(static_cast<std::int32_t>(absent + shift)), -1) << "shift " << shift;
            }
        }
    }
}

}  // namespace
}  // namespace tarnwick
