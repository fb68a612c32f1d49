#include "translate/xliff_file.h"

#include <expat.h>

#include <memory>

#include "base/failure.h"
#include "source/unicode_text.h"

namespace tolvane::translate {
namespace {

// Element content and attribute values; a carriage return as a reference so
// that parsers do not turn it into a line feed.
std::string escape_xml(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string attribute(const char* name, std::string_view value) {
  return std::string(" ") + name + "=\"" + escape_xml(value) + "\"";
}

std::string_view local_name(const XML_Char* name) {
  std::string_view view(name);
  const size_t colon = view.find(':');
  return colon == std::string_view::npos ? view : view.substr(colon + 1);
}

struct Reader {
  XML_Parser parser = nullptr;
  const std::string* path = nullptr;
  TranslationFile file;
  std::string error;  // set once; the parse is stopped
  bool seen_root = false;
  bool in_unit = false;
  int depth_in_text = 0;        // inside <source>, <target> or <note>, counting nested elements
  std::string* text = nullptr;  // what the character data goes to
  std::string note;
  std::string state;
  bool has_target = false;

  void fail(const std::string& what) {
    if (!error.empty()) return;
    error = *path + ":" + std::to_string(XML_GetCurrentLineNumber(parser)) + ": " + what;
    XML_StopParser(parser, XML_FALSE);
  }
};

const char* attribute_value(const XML_Char** attributes, std::string_view name) {
  for (size_t i = 0; attributes[i] != nullptr; i += 2) {
    if (local_name(attributes[i]) == name) return attributes[i + 1];
  }
  return nullptr;
}

void on_start(void* data, const XML_Char* name, const XML_Char** attributes) {
  Reader& r = *static_cast<Reader*>(data);
  const std::string_view element = local_name(name);
  if (!r.seen_root) {
    r.seen_root = true;
    if (element != "xliff")
      r.fail("this is no XLIFF file: its root element is <" + std::string(name) + ">");
    return;
  }
  if (r.depth_in_text > 0) {
    ++r.depth_in_text;  // inline markup: its text counts, the element does not
    return;
  }
  if (element == "file") {
    if (const char* value = attribute_value(attributes, "source-language")) {
      r.file.source_language = value;
    }
    if (const char* value = attribute_value(attributes, "target-language")) {
      r.file.target_language = value;
    }
  } else if (element == "trans-unit") {
    if (r.in_unit) return r.fail("<trans-unit> inside another one");
    r.in_unit = true;
    r.has_target = false;
    r.state.clear();
    TranslationEntry entry;
    const char* resname = attribute_value(attributes, "resname");
    if (resname == nullptr) resname = attribute_value(attributes, "id");
    if (resname == nullptr) return r.fail("<trans-unit> without id or resname");
    entry.name = resname;
    entry.line = XML_GetCurrentLineNumber(r.parser);
    r.file.entries.push_back(std::move(entry));
  } else if (r.in_unit && (element == "source" || element == "target" || element == "note")) {
    TranslationEntry& entry = r.file.entries.back();
    r.depth_in_text = 1;
    if (element == "source") {
      r.text = &entry.source;
    } else if (element == "target") {
      r.has_target = true;
      if (const char* state = attribute_value(attributes, "state")) r.state = state;
      r.text = &entry.target;
    } else {
      r.note.clear();
      r.text = &r.note;
    }
  }
}

void on_end(void* data, const XML_Char* name) {
  Reader& r = *static_cast<Reader*>(data);
  if (r.depth_in_text > 0) {
    if (--r.depth_in_text > 0) return;
    if (local_name(name) == "note") r.file.entries.back().notes.push_back(r.note);
    r.text = nullptr;
    return;
  }
  if (local_name(name) != "trans-unit" || !r.in_unit) return;
  r.in_unit = false;
  TranslationEntry& entry = r.file.entries.back();
  // What a state says about the target: to be done, to be checked, or done.
  if (r.state == "new" || r.state == "needs-translation") {
    entry.target.clear();
  } else if (r.state.rfind("needs-", 0) == 0) {
    entry.fuzzy = true;
  }
}

void on_text(void* data, const XML_Char* text, int length) {
  Reader& r = *static_cast<Reader*>(data);
  if (r.text != nullptr) r.text->append(text, static_cast<size_t>(length));
}

}  // namespace

bool xml_can_hold(std::string_view utf8) {
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t c;
    if (!next_utf8(utf8, &i, &c)) return false;
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF) {
      return false;
    }
  }
  return true;
}

std::string write_xliff(const TranslationFile& file, const std::string& original) {
  const bool with_targets = !file.target_language.empty();
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<xliff version=\"1.2\" xmlns=\"urn:oasis:names:tc:xliff:document:1.2\">\n"
      "  <file" +
      attribute("original", original) + attribute("source-language", file.source_language);
  if (with_targets) out += attribute("target-language", file.target_language);
  out += attribute("datatype", "plaintext");
  if (!file.creation_date.empty()) out += attribute("date", file.creation_date);
  out += ">\n    <body>\n";
  for (const TranslationEntry& entry : file.entries) {
    out += "      <trans-unit" + attribute("id", entry.name) + attribute("resname", entry.name);
    if (with_targets && !entry.target.empty() && !entry.fuzzy) out += attribute("approved", "yes");
    out += " xml:space=\"preserve\">\n";
    out += "        <source>" + escape_xml(entry.source) + "</source>\n";
    if (with_targets) {
      const char* state = entry.target.empty() ? "needs-translation"
                          : entry.fuzzy        ? "needs-review-translation"
                                               : "translated";
      out += "        <target" + attribute("state", state) + ">" + escape_xml(entry.target) +
             "</target>\n";
    }
    for (const std::string& note : entry.notes) {
      out += "        <note from=\"developer\">" + escape_xml(note) + "</note>\n";
    }
    if (!entry.location.empty()) {
      out +=
          "        <context-group purpose=\"location\">"
          "<context context-type=\"sourcefile\">" +
          escape_xml(entry.location) + "</context><context context-type=\"linenumber\">" +
          std::to_string(entry.location_line) + "</context></context-group>\n";
    }
    out += "      </trans-unit>\n";
  }
  out += "    </body>\n  </file>\n</xliff>\n";
  return out;
}

TranslationFile read_xliff(std::string_view bytes, const std::string& path) {
  std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate("UTF-8"),
                                                                      &XML_ParserFree);
  if (!parser) throw input_failure("cannot read " + path + ": out of memory");
  Reader reader;
  reader.parser = parser.get();
  reader.path = &path;
  XML_SetUserData(parser.get(), &reader);
  XML_SetElementHandler(parser.get(), on_start, on_end);
  XML_SetCharacterDataHandler(parser.get(), on_text);
  const XML_Status status =
      XML_Parse(parser.get(), bytes.data(), static_cast<int>(bytes.size()), XML_TRUE);
  if (!reader.error.empty()) throw input_failure(reader.error);
  if (status != XML_STATUS_OK) {
    throw input_failure(path + ":" + std::to_string(XML_GetCurrentLineNumber(parser.get())) + ": " +
                        XML_ErrorString(XML_GetErrorCode(parser.get())));
  }
  return std::move(reader.file);
}

}  // namespace tolvane::translate
