// TZAHashedStringList: an ordered list of texts whose position lookup (IndexOf) goes through
// a chained hash table, TZAStringHash, built lazily on the first lookup and thrown away when
// the list outgrows it. The central directory keeps one with the folded stored name of every
// item, in item order, so that finding an item by name costs one hash and a short chain walk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace archiver {

// A chained hash table from text keys to 32-bit positions. Equal keys are not merged: the
// entry inserted last is found first.
class TZAStringHash {
public:
    // bucketCount 0 is taken as 1.
    explicit TZAStringHash(std::uint32_t bucketCount);

    // h := (h rotated left by 2) XOR byte, over the bytes of the key.
    static std::uint32_t hashOf(std::string_view key);

    void insert(std::string_view key, std::int32_t position);
    // The position of the most recently inserted entry with this key, byte for byte; -1 when none.
    std::int32_t find(std::string_view key) const;
    // Unlinks the most recently inserted entry with this key; false when there is none.
    bool remove(std::string_view key);
    // Unlinks the entry with this key and this position; false when there is none.
    bool remove(std::string_view key, std::int32_t position);
    void clear();

    std::uint32_t bucketCount() const { return std::uint32_t(m_buckets.size()); }

private:
    struct Entry {
        std::string key;
        std::int32_t position;
    };
    // Each bucket's chain, its front (the newest entry) at the back of the vector.
    std::vector<std::vector<Entry>> m_buckets;

    std::vector<Entry>& bucketOf(std::string_view key);
    const std::vector<Entry>& bucketOf(std::string_view key) const;
};

class TZAHashedStringList {
public:
    // Texts compare ignoring case (Latin and Cyrillic letters) unless the list is made
    // case-sensitive; the archiver keeps the default.
    bool CaseSensitive() const { return m_caseSensitive; }
    void SetCaseSensitive(bool value);

    std::int32_t Count() const { return std::int32_t(m_texts.size()); }
    // The text at a position; std::out_of_range outside 0..Count()-1.
    const std::string& Strings(std::int32_t position) const;

    // Appends the text and gives its position. Keeps a valid index up to date; discards the
    // index once the texts outnumber its buckets five to one (the next IndexOf rebuilds it).
    std::int32_t Add(std::string text);
    // Stores a new text at a position and moves its index entry; std::out_of_range outside the list.
    void replace(std::int32_t position, std::string text);
    // Removes the text at a position (later texts move up); std::out_of_range outside the list.
    void Delete(std::int32_t position);
    void Clear();
    // The position of the text (of the highest-placed text with an equal key when there are
    // several), -1 when none. Makes or rebuilds the index when it is absent or stale.
    std::int32_t IndexOf(std::string_view text);

    // The lookup key of a text: itself when case-sensitive, else its case-folded form.
    std::string keyOf(std::string_view text) const;

    // State of the position index, for diagnostics: 0 buckets when it is absent.
    std::uint32_t indexBucketCount() const { return m_index ? m_index->bucketCount() : 0; }
    bool indexValid() const { return m_index && m_indexValid; }

private:
    static constexpr std::uint32_t kMinBuckets = 1000;
    static constexpr std::uint32_t kDiscardRatio = 5;

    void checkPosition(std::int32_t position) const;
    void buildIndex();

    std::vector<std::string> m_texts;
    std::unique_ptr<TZAStringHash> m_index;
    bool m_indexValid = false;
    bool m_caseSensitive = false;
};

} // namespace archiver
