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

void set_ca_file_override(const std::string& pem_path) {
    std::lock_guard lock(ca_mutex());
    ca_override() = pem_path;
}

} // namespace zorvik
