/// @file property_filter.cc
/// @brief Property positions, the kept-document set and the record mapping
/// of a property search.

#include "assemble/property_filter.h"

namespace {

constexpr int kMaxPropertyPositions = 32;

bool testBit(const unsigned char* bits, unsigned long n) {
  return (bits[n / 8] >> (n % 8)) & 1u;
}

void setBit(unsigned char* bits, unsigned long n) {
  bits[n / 8] = static_cast<unsigned char>(bits[n / 8] | (1u << (n % 8)));
}

bool holdsDocId(long docId) {
  return docId >= 0 && docId < kPropertyMaxDocIds;
}

}  // namespace

int search_property::getPropertyIDByDefault(int mode) {
  return mode >= kModePropertyFirst && mode <= kModePropertyLast ? mode - kModePropertyFirst : -1;
}

bool search_property::readPropertySettingByDefault(int position) {
  total_property_number = kDefaultPropertyCount;
  if (position >= 0 && position < kMaxPropertyPositions)
    setBit(hash_file_property_list, static_cast<unsigned long>(position));
  return true;
}

bool search_property::checkRecProperty(long id) const {
  // Without a setting there is no position, and an id below 1 has none.
  if (total_property_number <= 0 || id < 1) return false;
  const long position = (id - 1) % total_property_number;
  return position < kMaxPropertyPositions &&
         testBit(hash_file_property_list, static_cast<unsigned long>(position));
}

unsigned long search_property::getIdxIdFromFileId(long id) const {
  if (total_property_number <= 0 || id < 1) return 0;
  return static_cast<unsigned long>((id - 1) / total_property_number + 1);
}

bool search_property::checkRecID(long docId) const {
  return holdsDocId(docId) && !hash_file_recid_list.empty() &&
         testBit(hash_file_recid_list.data(), static_cast<unsigned long>(docId));
}

bool search_property::setRecID(long docId) {
  if (!holdsDocId(docId)) return false;
  if (hash_file_recid_list.empty()) hash_file_recid_list.assign(kPropertyMaxDocIds / 8, 0);
  setBit(hash_file_recid_list.data(), static_cast<unsigned long>(docId));
  return true;
}

long search_property::filterRecID(long id) {
  if (!checkRecProperty(id)) return kPropertyOtherProperty;
  const long doc = static_cast<long>(getIdxIdFromFileId(id));
  if (checkRecID(doc)) return kPropertyDocumentKept;
  setRecID(doc);
  return doc;
}

RecIdFilter* PropertySource::propertyFilterFor(int mode) {
  const int position = search_property::getPropertyIDByDefault(mode);
  if (position < 0) return nullptr;
  m_filter = search_property();
  m_filter.readPropertySettingByDefault(position);
  return &m_filter;
}
