// The hashed list behind the archiver's case-insensitive name lookup.
#include "archiver/za_hashed_list.h"

#include "platform/encoding.h"

#include <algorithm>
#include <stdexcept>

namespace archiver {

TZAStringHash::TZAStringHash(std::uint32_t bucketCount) : m_buckets(std::max<std::uint32_t>(bucketCount, 1)) {}

std::uint32_t TZAStringHash::hashOf(std::string_view key) {
    std::uint32_t h = 0;
    for (unsigned char c : key)
        h = ((h << 2) | (h >> 30)) ^ c;
    return h;
}

std::vector<TZAStringHash::Entry>& TZAStringHash::bucketOf(std::string_view key) {
    return m_buckets[hashOf(key) % m_buckets.size()];
}

const std::vector<TZAStringHash::Entry>& TZAStringHash::bucketOf(std::string_view key) const {
    return m_buckets[hashOf(key) % m_buckets.size()];
}

void TZAStringHash::insert(std::string_view key, std::int32_t position) {
    bucketOf(key).push_back(Entry{std::string(key), position});
}

std::int32_t TZAStringHash::find(std::string_view key) const {
    const auto& chain = bucketOf(key);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        if (it->key == key)
            return it->position;
    return -1;
}

bool TZAStringHash::remove(std::string_view key) {
    auto& chain = bucketOf(key);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (it->key == key) {
            chain.erase(std::next(it).base());
            return true;
        }
    }
    return false;
}

bool TZAStringHash::remove(std::string_view key, std::int32_t position) {
    auto& chain = bucketOf(key);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (it->position == position && it->key == key) {
            chain.erase(std::next(it).base());
            return true;
        }
    }
    return false;
}

void TZAStringHash::clear() {
    for (auto& chain : m_buckets)
        chain.clear();
}

void TZAHashedStringList::SetCaseSensitive(bool value) {
    if (value == m_caseSensitive)
        return;
    m_caseSensitive = value;
    m_indexValid = false; // every key changes
}

std::string TZAHashedStringList::keyOf(std::string_view text) const {
    return m_caseSensitive ? std::string(text) : platform::toLowerUtf8(text);
}

void TZAHashedStringList::checkPosition(std::int32_t position) const {
    if (position < 0 || position >= Count())
        throw std::out_of_range("List index out of bounds (" + std::to_string(position) + ")");
}

const std::string& TZAHashedStringList::Strings(std::int32_t position) const {
    checkPosition(position);
    return m_texts[std::size_t(position)];
}

std::int32_t TZAHashedStringList::Add(std::string text) {
    auto position = Count();
    m_texts.push_back(std::move(text));
    if (m_index && m_indexValid)
        m_index->insert(keyOf(m_texts.back()), position);
    // Rebuilding happens only in IndexOf, so a long run of Adds never rehashes.
    if (m_index && std::uint64_t(m_texts.size()) > std::uint64_t(kDiscardRatio) * m_index->bucketCount()) {
        m_index.reset();
        m_indexValid = false;
    }
    return position;
}

void TZAHashedStringList::replace(std::int32_t position, std::string text) {
    checkPosition(position);
    auto& slot = m_texts[std::size_t(position)];
    if (m_index && m_indexValid) {
        // Remove this position's own entry: with duplicate keys the newest entry of the key
        // may belong to another position.
        m_index->remove(keyOf(slot), position);
        m_index->insert(keyOf(text), position);
    }
    slot = std::move(text);
}

void TZAHashedStringList::Delete(std::int32_t position) {
    checkPosition(position);
    m_texts.erase(m_texts.begin() + position);
    m_indexValid = false; // later positions have moved
}

void TZAHashedStringList::Clear() {
    m_texts.clear();
    if (m_index)
        m_index->clear(); // an empty table matches an empty list; a stale mark stays stale
}

void TZAHashedStringList::buildIndex() {
    m_index->clear();
    for (std::size_t i = 0; i < m_texts.size(); ++i)
        m_index->insert(keyOf(m_texts[i]), std::int32_t(i));
    m_indexValid = true;
}

std::int32_t TZAHashedStringList::IndexOf(std::string_view text) {
    if (!m_index) {
        m_index = std::make_unique<TZAStringHash>(std::max<std::uint32_t>(std::uint32_t(m_texts.size()), kMinBuckets));
        buildIndex();
    } else if (!m_indexValid) {
        buildIndex();
    }
    return m_index->find(keyOf(text));
}

} // namespace archiver
