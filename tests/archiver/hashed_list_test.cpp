#include "archiver/za_hashed_list.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace archiver;

namespace {

std::string nameOf(int i) { return "folder/file" + std::to_string(i) + ".txt"; }

void fill(TZAHashedStringList& list, int from, int to) {
    for (int i = from; i < to; ++i)
        list.Add(nameOf(i));
}

} // namespace

TEST(TZAStringHash, hashRotatesLeftByTwoAndXorsEachByte) {
    EXPECT_EQ(TZAStringHash::hashOf(""), 0u);
    EXPECT_EQ(TZAStringHash::hashOf("a"), 0x61u);
    EXPECT_EQ(TZAStringHash::hashOf("ab"), (0x61u << 2) ^ 0x62u);
    // Bytes above 0x7F count as unsigned, and bits rotate out of the top back into the bottom.
    EXPECT_EQ(TZAStringHash::hashOf("\xFF"), 0xFFu);
    std::string seventeen(17, '\x80');
    std::uint32_t h = 0;
    for (int i = 0; i < 17; ++i)
        h = ((h << 2) | (h >> 30)) ^ 0x80u;
    EXPECT_EQ(TZAStringHash::hashOf(seventeen), h);
}

TEST(TZAStringHash, equalKeysAreNotMergedAndTheNewestIsFoundFirst) {
    TZAStringHash hash(7);
    hash.insert("k", 1);
    hash.insert("k", 2);
    EXPECT_EQ(hash.find("k"), 2);
    EXPECT_TRUE(hash.remove("k"));
    EXPECT_EQ(hash.find("k"), 1);
    EXPECT_TRUE(hash.remove("k"));
    EXPECT_EQ(hash.find("k"), -1);
    EXPECT_FALSE(hash.remove("k"));
}

TEST(TZAStringHash, removeByPositionLeavesOtherEntriesOfTheKey) {
    TZAStringHash hash(1);
    hash.insert("k", 1);
    hash.insert("k", 2);
    hash.insert("other", 3);
    EXPECT_TRUE(hash.remove("k", 1));
    EXPECT_EQ(hash.find("k"), 2);
    EXPECT_EQ(hash.find("other"), 3);
    EXPECT_FALSE(hash.remove("k", 1));
}

TEST(TZAStringHash, zeroBucketsIsTakenAsOne) {
    TZAStringHash hash(0);
    EXPECT_EQ(hash.bucketCount(), 1u);
    hash.insert("x", 4);
    EXPECT_EQ(hash.find("x"), 4);
    hash.clear();
    EXPECT_EQ(hash.find("x"), -1);
}

TEST(TZAHashedStringList, indexOfOnEmptyListMakesThousandBucketsAndFindsNothing) {
    TZAHashedStringList list;
    EXPECT_EQ(list.indexBucketCount(), 0u);
    EXPECT_EQ(list.IndexOf("a"), -1);
    EXPECT_EQ(list.indexBucketCount(), 1000u);
    EXPECT_TRUE(list.indexValid());
}

TEST(TZAHashedStringList, indexIsDiscardedBeyondFiveNamesPerBucketAndRebuiltOnlyByIndexOf) {
    TZAHashedStringList list;
    fill(list, 0, 3000);
    EXPECT_EQ(list.indexBucketCount(), 0u); // lazy: nothing built by Add
    EXPECT_EQ(list.IndexOf(nameOf(1234)), 1234);
    EXPECT_EQ(list.indexBucketCount(), 3000u);

    // Adds keep the index current up to 15 000 names ...
    fill(list, 3000, 15000);
    EXPECT_EQ(list.indexBucketCount(), 3000u);
    EXPECT_TRUE(list.indexValid());
    EXPECT_EQ(list.IndexOf(nameOf(14999)), 14999);
    // ... the next one discards it, and the next lookup rebuilds it as large as the list.
    list.Add(nameOf(15000));
    EXPECT_EQ(list.indexBucketCount(), 0u);
    fill(list, 15001, 16000);
    EXPECT_EQ(list.indexBucketCount(), 0u);
    EXPECT_EQ(list.IndexOf(nameOf(15500)), 15500);
    EXPECT_EQ(list.indexBucketCount(), 16000u);
    EXPECT_EQ(list.IndexOf(nameOf(7)), 7);
    EXPECT_EQ(list.IndexOf("missing"), -1);
}

TEST(TZAHashedStringList, equalKeysGiveTheHigherPositionAfterABuild) {
    TZAHashedStringList list;
    list.Add("Readme.txt");
    list.Add("x");
    list.Add("README.TXT");
    EXPECT_EQ(list.IndexOf("readme.txt"), 2);
}

TEST(TZAHashedStringList, equalKeysGiveTheOneAddedLastWhileIndexLives) {
    TZAHashedStringList list;
    list.Add("a");
    EXPECT_EQ(list.IndexOf("a"), 0);
    list.Add("A");
    EXPECT_EQ(list.IndexOf("a"), 1);
}

TEST(TZAHashedStringList, deleteMovesLaterTextsUp) {
    TZAHashedStringList list;
    fill(list, 0, 5);
    EXPECT_EQ(list.IndexOf(nameOf(4)), 4);
    list.Delete(1);
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list.IndexOf(nameOf(4)), 3);
    EXPECT_EQ(list.IndexOf(nameOf(1)), -1);
    EXPECT_EQ(list.IndexOf(nameOf(0)), 0);
}

TEST(TZAHashedStringList, replaceMovesTheIndexEntry) {
    TZAHashedStringList list;
    fill(list, 0, 3);
    EXPECT_EQ(list.IndexOf(nameOf(1)), 1);
    list.replace(1, "renamed");
    EXPECT_EQ(list.Strings(1), "renamed");
    EXPECT_EQ(list.IndexOf(nameOf(1)), -1);
    EXPECT_EQ(list.IndexOf("Renamed"), 1);
}

TEST(TZAHashedStringList, replacingOneOfTwoEqualNamesKeepsTheOther) {
    // Position 0 and 1 hold the same key; renaming position 0 must not drop position 1's entry.
    TZAHashedStringList list;
    list.Add("dup");
    list.Add("DUP");
    EXPECT_EQ(list.IndexOf("dup"), 1);
    list.replace(0, "single");
    EXPECT_EQ(list.IndexOf("dup"), 1);
    EXPECT_EQ(list.IndexOf("single"), 0);
    list.replace(1, "other");
    EXPECT_EQ(list.IndexOf("dup"), -1);
}

TEST(TZAHashedStringList, clearEmptiesListAndIndex) {
    TZAHashedStringList list;
    fill(list, 0, 4);
    EXPECT_EQ(list.IndexOf(nameOf(2)), 2);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.IndexOf(nameOf(2)), -1);
    list.Add(nameOf(9));
    EXPECT_EQ(list.IndexOf(nameOf(9)), 0);

    list.Delete(0); // stale index, then cleared: still nothing left over
    list.Add("a");
    list.Clear();
    EXPECT_EQ(list.IndexOf("a"), -1);
}

TEST(TZAHashedStringList, namesDifferingOnlyInCaseFindEachOtherInLatinAndCyrillic) {
    TZAHashedStringList list;
    list.Add("Сервер/Система.ini");
    list.Add("Data/ÀÉ.bin");
    EXPECT_EQ(list.IndexOf("сЕРВЕР/сИСТЕМА.INI"), 0);
    EXPECT_EQ(list.IndexOf("data/àé.BIN"), 1);
    EXPECT_EQ(list.IndexOf("Сервер/Система.in"), -1);
}

TEST(TZAHashedStringList, caseSensitiveListComparesExactly) {
    TZAHashedStringList list;
    list.Add("Name");
    EXPECT_EQ(list.IndexOf("name"), 0);
    list.SetCaseSensitive(true);
    EXPECT_EQ(list.IndexOf("name"), -1);
    EXPECT_EQ(list.IndexOf("Name"), 0);
}

TEST(TZAHashedStringList, positionsOutsideTheListAreRefused) {
    TZAHashedStringList list;
    list.Add("a");
    EXPECT_THROW(list.Delete(1), std::out_of_range);
    EXPECT_THROW(list.Delete(-1), std::out_of_range);
    EXPECT_THROW(list.replace(5, "b"), std::out_of_range);
    EXPECT_THROW((void)list.Strings(1), std::out_of_range);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.IndexOf("a"), 0);
}
