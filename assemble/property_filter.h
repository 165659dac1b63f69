/// @file property_filter.h
/// @brief The property filter of a property search: the file-list companion
/// index ("<index>_file") holds one engine record per document property, a
/// fixed number of them per document; the filter keeps the hits that lie in
/// the requested property and turns each into its document's record id,
/// every document once.

#ifndef SEARCHRUN_ASSEMBLE_PROPERTY_FILTER_H
#define SEARCHRUN_ASSEMBLE_PROPERTY_FILTER_H

#include <cstddef>
#include <cstdint>

#include <vector>
#include "search/vela_out.h"

#include "search/vela_search.h"

// Engine records per document in the file-list index: title, subject,
// company, author, file name, comment, keyword, in this order.
constexpr int kDefaultPropertyCount = 7;
// Document ids the kept-set can mark (0 to kPropertyMaxDocIds - 1).
constexpr long kPropertyMaxDocIds = 204800L * 8;

// What filterRecID answers besides a document id.
constexpr long kPropertyOtherProperty = -2;
constexpr long kPropertyDocumentKept = -1;

class search_property final : public RecIdFilter {
 public:
  // Position of the property of search mode 1 (title) to 7 (keyword), -1
  // for any other mode.
  static int getPropertyIDByDefault(int mode);

  // Seven records per document, and `position` selected (positions of 32
  // and above are not). Always true.
  bool readPropertySettingByDefault(int position);

  // Whether the engine record `id` (from 1) holds a selected property.
  // False for ids below 1 and while no setting is read.
  bool checkRecProperty(long id) const;
  // The document of engine record `id`: (id - 1) / records per document + 1.
  // 0 for ids below 1 and while no setting is read.
  unsigned long getIdxIdFromFileId(long id) const;
  // Whether document `docId` was kept already (false for ids the set cannot
  // hold).
  bool checkRecID(long docId) const;
  // Marks document `docId` as kept; false (nothing marked) for ids the set
  // cannot hold, so every hit on such a document is kept.
  bool setRecID(long docId);

  // The document id to keep for engine record `id`, or
  // kPropertyOtherProperty (another property, or an id below 1) or
  // kPropertyDocumentKept (the document was kept for an earlier hit).
  long filterRecID(long id) override;

  int totalPropertyNumber() const { return total_property_number; }

 private:
  // Made on the first kept document: most requests search no property, and
  // a set this size cleared in every one would cost more than the search.
  std::vector<unsigned char> hash_file_recid_list;
  unsigned char hash_file_property_list[4] = {};
  int total_property_number = -1;
};

// The property filter every property search of this host gets: a fresh
// search_property per job.
class PropertySource final : public PropertyFilterSource {
 public:
  // The filter for `mode`, set up anew; null when the mode names no property.
  RecIdFilter* propertyFilterFor(int mode) override;

 private:
  search_property m_filter;
};

#endif  // SEARCHRUN_ASSEMBLE_PROPERTY_FILTER_H
