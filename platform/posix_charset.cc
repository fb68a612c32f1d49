#include <errno.h>
#include <iconv.h>

#include "base/failure.h"
#include "platform/charset.h"

namespace tolvane {
namespace {

// One whole conversion; iconv stops at the first input it cannot convert.
bool convert(iconv_t cd, std::string_view in, std::string* out, size_t* bad) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  out->assign(in.size() * 4 + 16, '\0');
  char* in_p = const_cast<char*>(in.data());
  size_t in_left = in.size();
  size_t done = 0;
  for (bool flushing = false;;) {
    char* out_p = out->data() + done;
    size_t out_left = out->size() - done;
    const size_t r = flushing ? iconv(cd, nullptr, nullptr, &out_p, &out_left)
                              : iconv(cd, &in_p, &in_left, &out_p, &out_left);
    done = out->size() - out_left;
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) {
        out->resize(out->size() * 2);
        continue;
      }
      *bad = in.size() - in_left;  // EILSEQ, or EINVAL for a sequence cut short
      return false;
    }
    if (flushing) break;
    flushing = true;  // stateful character sets end in their initial state
  }
  out->resize(done);
  return true;
}

}  // namespace

struct Charset::Converters {
  iconv_t to_utf8 = reinterpret_cast<iconv_t>(-1);
  iconv_t from_utf8 = reinterpret_cast<iconv_t>(-1);
  ~Converters() {
    if (to_utf8 != reinterpret_cast<iconv_t>(-1)) iconv_close(to_utf8);
    if (from_utf8 != reinterpret_cast<iconv_t>(-1)) iconv_close(from_utf8);
  }
};

Charset::Charset(const std::string& name) : name_(name.empty() ? "ASCII" : name) {
  if (name.empty()) return;
  converters_ = std::make_unique<Converters>();
  converters_->to_utf8 = iconv_open("UTF-8", name.c_str());
  converters_->from_utf8 = iconv_open(name.c_str(), "UTF-8");
  if (converters_->to_utf8 == reinterpret_cast<iconv_t>(-1) ||
      converters_->from_utf8 == reinterpret_cast<iconv_t>(-1)) {
    throw usage_failure("unknown character set \"" + name + "\" (iconv -l lists the known ones)");
  }
}

Charset::~Charset() = default;

bool Charset::decode(std::string_view bytes, std::string* utf8, size_t* bad) const {
  if (!converters_) return ascii_only(bytes, utf8, bad);
  return convert(converters_->to_utf8, bytes, utf8, bad);
}

bool Charset::encode(std::string_view utf8, std::string* bytes, size_t* bad) const {
  if (!converters_) return ascii_only(utf8, bytes, bad);
  return convert(converters_->from_utf8, utf8, bytes, bad);
}

}  // namespace tolvane
