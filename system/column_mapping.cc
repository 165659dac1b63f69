/// @file column_mapping.cc
/// @brief Reading "column_mapping.txt" and looking columns up by name.

#include "system/column_mapping.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "system/layout.h"
#include "system/lines.h"
#include "system/numbers.h"
#include "system/secure_file.h"

namespace {

constexpr size_t kNameComma = 3;  // the name follows the third comma
constexpr size_t kMinCommas = 5;

}  // namespace

void ColumnNode::setFieldName(const char* name) {
  m_hasName = name != nullptr;
  m_fieldName = name ? name : "";
}

void ColumnNode::setFieldType(const char* type) {
  m_hasType = type != nullptr;
  m_fieldType = type ? type : "";
}

void ColumnNode::freeMemory() {
  setFieldName(nullptr);
  setFieldType(nullptr);
  m_fieldName.shrink_to_fit();
  m_fieldType.shrink_to_fit();
}

ColumnMapping::~ColumnMapping() {
  removeAllColumnNode();
}

void ColumnMapping::addColumnNode(const char* name, const char* type, int32_t no, int32_t listNo) {
  auto node = std::make_unique<ColumnNode>();
  node->setFieldName(name);
  node->setFieldType(type);
  node->setFieldNo(no);
  node->setFieldListNo(listNo);
  ColumnNode* raw = node.release();
  (m_last ? m_last : static_cast<ColumnNode*>(this))->setNextNode(raw);
  m_last = raw;
  ++m_count;
}

void ColumnMapping::openColumnMappingFile(const char* path) {
  if (path == nullptr) return;
  std::unique_ptr<FILE, FileCloser> fp(fopenRegular(path));
  if (!fp) return;
  std::string line;
  while (readBoundedLine(fp.get(), kColumnMappingLineMax, line)) {
    std::vector<size_t> commas;
    for (size_t i = 0; i < line.size(); ++i)
      if (line[i] == ',') commas.push_back(i);
    if (commas.size() < kMinCommas) continue;
    const size_t nameAt = commas[kNameComma - 1] + 1;
    const std::string name = line.substr(nameAt, commas[kNameComma] - nameAt);
    const size_t typeAt = commas[kNameComma] + 1;
    const std::string type = line.substr(typeAt, commas[kNameComma + 1] - typeAt);
    const int32_t no = parseAtoi(std::string_view(line).substr(commas.back() + 1));
    addColumnNode(name.c_str(), type.c_str(), no, m_count);
  }
}

int32_t ColumnMapping::searchFieldName(const char* name) const {
  if (name == nullptr) return -1;
  for (const ColumnNode* node = getNextNode(); node; node = node->getNextNode()) {
    const char* field = node->getFieldName();
    if (field && std::strcmp(field, name) == 0) return node->getFieldNo();
  }
  return -1;
}

int32_t ColumnMapping::findFrom(ColumnNode*& cursor, const char* name, bool listNo) {
  for (; cursor; cursor = cursor->getNextNode()) {
    const char* field = cursor->getFieldName();
    if (field && std::strcmp(field, name) == 0) {
      const int32_t found = listNo ? cursor->getFieldListNo() : cursor->getFieldNo();
      cursor = cursor->getNextNode();
      return found;
    }
  }
  return -1;
}

int32_t ColumnMapping::findDBColumnNo(const char* name) {
  if (name == nullptr) {
    m_noCursor = getNextNode();
    return -1;
  }
  return findFrom(m_noCursor, name, false);
}

int32_t ColumnMapping::findDBColumnListNo(const char* name) {
  if (name == nullptr) {
    m_listNoCursor = getNextNode();
    return -1;
  }
  return findFrom(m_listNoCursor, name, true);
}

void ColumnMapping::removeAllColumnNode() {
  ColumnNode* node = getNextNode();
  while (node) {
    ColumnNode* next = node->getNextNode();
    delete node;
    node = next;
  }
  setNextNode(nullptr);
  m_last = m_noCursor = m_listNoCursor = nullptr;
  m_count = 0;
}

void ColumnMapping::PrintColumnNode() const {
  std::printf("***** PrintColumnNode ****\n");
  for (const ColumnNode* node = getNextNode(); node; node = node->getNextNode()) {
    std::printf("FieldName : %s ", node->getFieldName() ? node->getFieldName() : "NULL");
    std::printf(" (%s) ", node->getFieldType() ? node->getFieldType() : "NULL");
    std::printf("%d [%d] \n", node->getFieldNo(), node->getFieldListNo());
  }
  std::printf("***** PrintColumnNode ****\n");
}

std::string ColumnMapping::columnMappingPath(const char* owner, const char* index) {
  const std::string home = systemGetOwnerHome(owner);
  if (home.empty()) return home;
  return home + "/db/" + (index ? index : "") + "/column_mapping.txt";
}
