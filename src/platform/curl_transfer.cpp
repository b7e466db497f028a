#include "platform/curl_transfer.h"

#include "platform/event_pump.h"

#include <mutex>

namespace zorvik {
namespace {

struct CurlMultiDeleter final {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;

std::mutex& ca_mutex() {
    static std::mutex m;
    return m;
}
std::string& ca_override() {
    static std::string path;
    return path;
}

bool global_init() {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

// Detaches the easy handle from the multi handle on every path out of perform_pumped.
class MultiAttachment final {
public:
    MultiAttachment(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
        attached_ = curl_multi_add_handle(multi_, easy_) == CURLM_OK;
    }
    ~MultiAttachment() {
        if (attached_) {
            curl_multi_remove_handle(multi_, easy_);
        }
    }
    MultiAttachment(const MultiAttachment&) = delete;
    MultiAttachment& operator=(const MultiAttachment&) = delete;
    bool attached() const { return attached_; }

private:
    CURLM* multi_;
    CURL* easy_;
    bool attached_ = false;
};

} // namespace

CurlEasy make_curl_easy() {
    if (!global_init()) {
        return nullptr;
    }
    return CurlEasy(curl_easy_init());
}

bool append_header(CurlSlist& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) {
        return false;
    }
    list.release();
    list.reset(grown);
    return true;
}

bool apply_safe_defaults(CURL* easy) {
    if (easy == nullptr) {
        return false;
    }
    bool ok = curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
    // An empty proxy keeps libcurl from reading http_proxy and friends.
    ok = ok && curl_easy_setopt(easy, CURLOPT_PROXY, "") == CURLE_OK;
    std::lock_guard lock(ca_mutex());
    if (ok && !ca_override().empty()) {
        ok = curl_easy_setopt(easy, CURLOPT_CAINFO, ca_override().c_str()) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr) == CURLE_OK;
    }
    return ok;
}

CURLcode perform_pumped(CURL* easy, const std::function<bool()>& cancelled) {
    if (easy == nullptr) {
        return CURLE_FAILED_INIT;
    }
    CurlMulti multi(curl_multi_init());
    if (!multi) {
        return CURLE_OUT_OF_MEMORY;
    }
    MultiAttachment attachment(multi.get(), easy);
    if (!attachment.attached()) {
        return CURLE_FAILED_INIT;
    }

    // A nested transfer (started by a handler while events are pumped) runs on its own
    // multi handle, so it never disturbs this one.
    EventPump pump;
    int running = 1;
    while (running > 0) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            return CURLE_FAILED_INIT;
        }
        if (running == 0) {
            break;
        }
        if (curl_multi_poll(multi.get(), nullptr, 0, 20, nullptr) != CURLM_OK) {
            return CURLE_FAILED_INIT;
        }
        pump.pump_if_due();
        if (cancelled && cancelled()) {
            return CURLE_ABORTED_BY_CALLBACK;
        }
    }

    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi.get(), &queued)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
            return msg->data.result;
        }
    }
    return CURLE_FAILED_INIT;
}

namespace {

bool starts_with_name(std::string_view line, std::string_view name) {
    if (line.size() < name.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = line[i];
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != name[i]) {
            return false;
        }
    }
    return true;
}

std::string_view value_after(std::string_view line, std::size_t name_length) {
    line.remove_prefix(name_length);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
        line.remove_prefix(1);
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r' ||
                             line.back() == '\n')) {
        line.remove_suffix(1);
    }
    return line;
}

} // namespace

bool announces_unreadable_length(std::string_view header_line) {
    constexpr std::string_view kName = "content-length:";
    if (!starts_with_name(header_line, kName)) {
        return false;
    }
    const std::string_view value = value_after(header_line, kName.size());
    // 18 digits stay below curl_off_t's limit.
    if (value.empty() || value.size() > 18) {
        return true;
    }
    for (const char c : value) {
        if (c < '0' || c > '9') {
            return true;
        }
    }
    return false;
}

bool announces_chunked_body(std::string_view header_line) {
    constexpr std::string_view kName = "transfer-encoding:";
    return starts_with_name(header_line, kName) &&
           value_after(header_line, kName.size()).find("chunked") != std::string_view::npos;
}

void set_ca_file_override(const std::string& pem_path) {
    std::lock_guard lock(ca_mutex());
    ca_override() = pem_path;
}

} // namespace zorvik
