/// @file property_index.cc
/// @brief Document properties and the file-list companion index.

#include "companions/builder/property_index.h"

#include "companions/engine/engine_query.h"

namespace vela {

namespace {

std::string cutUtf8(std::string text) {
  if (text.size() <= kMaxPropertyBytes) return text;
  size_t cut = kMaxPropertyBytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
    --cut;
  text.resize(cut);
  return text;
}

// The content of the first <meta> of one of `names`, in that order of choice.
std::string metaValue(const HtmlMeta& meta, std::initializer_list<const char*> names) {
  for (const char* name : names)
    for (const auto& [key, content] : meta)
      if (key == name && !content.empty()) return content;
  return "";
}

// The "@T:" line of a record's info text.
std::string infoTitle(const std::string& info) {
  const size_t at = info.find("@T:");
  if (at == std::string::npos) return "";
  const size_t start = at + 3;
  const size_t end = info.find('\n', start);
  return info.substr(start, end == std::string::npos ? end : end - start);
}

}  // namespace

DocProperties documentProperties(const RecordText& text, const HtmlMeta& meta) {
  DocProperties p;
  p[kPropTitle] = text.doc.title.empty() ? text.name : text.doc.title;
  p[kPropSubject] = metaValue(meta, {"subject"});
  p[kPropCompany] = metaValue(meta, {"company"});
  p[kPropAuthor] = metaValue(meta, {"author"});
  p[kPropFileName] = text.name;
  p[kPropComment] = metaValue(meta, {"description", "comment"});
  p[kPropKeyword] = metaValue(meta, {"keywords", "keyword"});
  for (std::string& value : p)
    value = cutUtf8(std::move(value));
  return p;
}

DocProperties storedProperties(const StoredRecord& rec, const CodePage& cp) {
  DocProperties p;
  const std::string& name = rec.info.fileName;
  p[kPropFileName] = cutUtf8(isValidUtf8(name) ? name : cp.toUtf8(name));
  p[kPropTitle] = cutUtf8(cp.toUtf8(infoTitle(rec.info.info)));
  if (p[kPropTitle].empty()) p[kPropTitle] = p[kPropFileName];
  return p;
}

bool readFileListProperties(const std::string& home, std::vector<DocProperties>& out) {
  out.clear();
  try {
    const std::vector<StoredRecord> records = readStoredRecords(openIndexDb(home));
    if (records.size() % kPropertyCount != 0) return false;
    out.resize(records.size() / kPropertyCount);
    for (size_t i = 0; i < records.size(); ++i)
      out[i / kPropertyCount][i % kPropertyCount] = records[i].info.info;
  } catch (const Xapian::Error&) {
    out.clear();
    return false;
  }
  return true;
}

bool buildFileListStaged(const std::string& staged, const std::vector<DocProperties>& docs,
                         std::string& error) {
  try {
    IndexWriter writer(staged);
    for (const DocProperties& doc : docs) {
      for (const std::string& value : doc) {
        // Every property takes its record, an empty one too: the record
        // numbers tell the document and the property.
        StoredRecord rec;
        rec.info.info = value;
        RecordText text;
        text.doc.body = value;
        writer.add(rec, text);
      }
    }
    return writer.finish(error);
  } catch (const Xapian::Error& e) {
    error = "cannot build " + staged + ": " + e.get_description();
    return false;
  }
}

}  // namespace vela
