// Character-set and entity tables of the reader. Internal to xml/ (and its tests).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace em::xml::detail {

// Character-set names: 155 buckets (sum of the lowercase name's code units % 155); a bucket is a
// string of entries "LLCCCCCname" (2-digit name length, 5-digit Windows code page, name).
constexpr size_t kCharsetBuckets = 155;
std::span<const char16_t* const> CharsetTable();
// Code page of a lowercase name; 0 when absent.
uint32_t LookupCharset(std::u16string_view lower_name);

// Entities: 130 buckets (sum of the lowercase name's code units % 130); entries "LCCCCname"
// (1-digit name length, 4-digit code point, lowercase name), a capital form before its small one.
constexpr size_t kEntityBuckets = 130;
std::span<const char16_t* const> EntityTable();
// Code point of a lowercase entity name; 0 when absent.
uint32_t LookupEntity(std::u16string_view lower_name);

// Switches to the plainest way of reading (byte loops only, no 16-byte searches or table lookups,
// a file's index built once the whole file is read) or back; tests compare the two. Returns the
// previous setting.
bool UsePlainReading(bool on);

}  // namespace em::xml::detail
