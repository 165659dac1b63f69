/// @file mail_reader.cc
/// @brief Mail through GMime: a message file or an mbox folder; subject,
/// sender and date as properties, text and HTML parts as text, and every
/// attachment read as a document of its own into the message's text.

#include <gmime/gmime.h>

#include <memory>

#include "companions/extract/readers.h"
#include "companions/extract/xml_text.h"

namespace extract {

namespace {

// Attachments read per document, mbox and forwarded messages included;
// past it the rest are counted in a note. A message of thousands of tiny
// attachments would otherwise cost a reader each.
constexpr size_t kMaxAttachments = 100;

struct Unref {
  void operator()(void* object) const {
    if (object) g_object_unref(object);
  }
};
template <typename T>
using GPtr = std::unique_ptr<T, Unref>;

struct MailWalk {
  ExtractedDoc& doc;
  int depth;
  size_t attachments = 0;
  size_t leftOut = 0;
};

void addText(ExtractedDoc& doc, const std::string& text) {
  if (text.empty()) return;
  if (!doc.text.empty() && doc.text.back() != '\n' && doc.text.back() != '\f') doc.text += '\n';
  doc.text += text;
}

std::string partBytes(GMimePart* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (!content) return {};
  GPtr<GMimeStream> stream(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(content, stream.get());
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get()));
  return bytes ? std::string(reinterpret_cast<const char*>(bytes->data), bytes->len)
               : std::string();
}

std::string textOf(GMimeTextPart* part) {
  char* text = g_mime_text_part_get_text(part);
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

// An HTML alternative of a plain text part says the same again.
bool hasPlainAlternative(GMimeObject* parent) {
  if (!parent || !GMIME_IS_MULTIPART(parent)) return false;
  if (!g_mime_content_type_is_type(g_mime_object_get_content_type(parent), "multipart",
                                   "alternative"))
    return false;
  GMimeMultipart* multipart = GMIME_MULTIPART(parent);
  for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
    GMimeObject* sibling = g_mime_multipart_get_part(multipart, i);
    if (g_mime_content_type_is_type(g_mime_object_get_content_type(sibling), "text", "plain"))
      return true;
  }
  return false;
}

void readAttachment(MailWalk& walk, GMimePart* part) {
  if (walk.attachments >= kMaxAttachments) {
    ++walk.leftOut;
    return;
  }
  ++walk.attachments;
  const char* filename = g_mime_part_get_filename(part);
  const std::string bytes = partBytes(part);
  ExtractedDoc inner;
  std::string error;
  Input input{filename ? filename : "", bytes, "", walk.depth + 1};
  if (detectFormat(input.name, bytes) != Format::kUnknown) {
    if (readDocument(input, inner, error)) addText(walk.doc, inner.text);
  } else if (g_mime_content_type_is_type(g_mime_object_get_content_type(GMIME_OBJECT(part)), "text",
                                         "*")) {
    addText(walk.doc, textOf(GMIME_TEXT_PART(part)));
  }
}

void visitMessage(MailWalk& walk, GMimeMessage* message);

void visitPart(GMimeObject* parent, GMimeObject* object, gpointer data) {
  MailWalk& walk = *static_cast<MailWalk*>(data);
  if (GMIME_IS_MESSAGE_PART(object)) {
    GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
    if (inner && walk.depth < kMaxDepth) {
      ++walk.depth;
      visitMessage(walk, inner);
      --walk.depth;
    }
    return;
  }
  if (!GMIME_IS_PART(object)) return;
  GMimePart* part = GMIME_PART(object);
  GMimeContentType* type = g_mime_object_get_content_type(object);
  const bool text = GMIME_IS_TEXT_PART(object);
  if (g_mime_part_is_attachment(part) || !text) {
    if (walk.depth < kMaxDepth) readAttachment(walk, part);
    return;
  }
  if (g_mime_content_type_is_type(type, "text", "html")) {
    if (hasPlainAlternative(parent)) return;
    const XmlDoc html = parseHtml(textOf(GMIME_TEXT_PART(part)));
    if (html) addText(walk.doc, htmlText(xmlDocGetRootElement(html.get())));
    return;
  }
  addText(walk.doc, textOf(GMIME_TEXT_PART(part)));
}

void visitMessage(MailWalk& walk, GMimeMessage* message) {
  const char* subject = g_mime_message_get_subject(message);
  if (walk.doc.title.empty() && subject) {
    walk.doc.title = subject;
    char* from = internet_address_list_to_string(g_mime_message_get_from(message), nullptr, FALSE);
    if (from) walk.doc.author = from;
    g_free(from);
    if (GDateTime* date = g_mime_message_get_date(message)) {
      char* text = g_date_time_format_iso8601(date);
      if (text) walk.doc.date = text;
      g_free(text);
    }
  } else if (subject) {
    addText(walk.doc, subject);
  }
  g_mime_message_foreach(message, visitPart, &walk);
}

}  // namespace

bool readMail(const Input& input, bool mbox, ExtractedDoc& doc, std::string& error) {
  static const bool ready = [] {
    g_mime_init();
    return true;
  }();
  (void)ready;
  GPtr<GMimeStream> stream(
      g_mime_stream_mem_new_with_buffer(input.bytes.data(), input.bytes.size()));
  GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  g_mime_parser_set_format(parser.get(), mbox ? GMIME_FORMAT_MBOX : GMIME_FORMAT_MESSAGE);
  MailWalk walk{doc, input.depth};
  size_t messages = 0;
  while (!g_mime_parser_eos(parser.get())) {
    GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!message) break;
    if (messages++ > 0) doc.text += '\f';
    visitMessage(walk, message.get());
    if (!mbox) break;
  }
  if (messages == 0) return error = "not a readable message", false;
  if (walk.leftOut > 0) addNote(doc, std::to_string(walk.leftOut) + " attachments left out");
  return true;
}

}  // namespace extract
