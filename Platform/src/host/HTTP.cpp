#include "Platform/HTTP.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace Platform {

namespace {

using Completion = std::function<void(HTTPResponse)>;

// One request on its way. Owns everything curl reads from or writes into
// until the transfer has ended.
struct Transfer {
    HTTPRequest request;
    Completion completion;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    HTTPResponse response;
    char errorText[CURL_ERROR_SIZE] = {};

    ~Transfer() {
        if (easy != nullptr) curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
    }
};

size_t collectBody(char* data, size_t size, size_t count, void* transfer) {
    static_cast<Transfer*>(transfer)->response.body.append(data, size * count);
    return size * count;
}

bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// A line break would end the header early and let the rest pose as headers
// of its own (or as the body), so such a request is never sent.
bool fitsInOneHeaderLine(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// Every transfer runs on one worker thread through a curl multi handle, so
// many can be under way at once without a thread each.
class CurlClient final : public HTTPClient {
public:
    CurlClient() {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        multi_ = curl_multi_init();
        worker_ = std::thread([this] { serve(); });
    }

    void post(HTTPRequest request, Completion completion) override {
        auto transfer = std::make_unique<Transfer>();
        transfer->request = std::move(request);
        transfer->completion = std::move(completion);
        {
            std::lock_guard lock(mutex_);
            arrivals_.push_back(std::move(transfer));
        }
        curl_multi_wakeup(multi_);
    }

private:
    [[noreturn]] void serve() {
        // A peer that hangs up must not raise SIGPIPE here; the signal goes
        // to the thread that wrote, so blocking it on this thread is enough.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

        for (;;) {
            std::vector<std::unique_ptr<Transfer>> arrived;
            {
                std::lock_guard lock(mutex_);
                arrived.swap(arrivals_);
            }
            for (auto& transfer : arrived) start(std::move(transfer));

            int running = 0;
            curl_multi_perform(multi_, &running);
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
                if (message->msg != CURLMSG_DONE) continue;
                CURL* easy = message->easy_handle;
                CURLcode result = message->data.result; // the message dies with the removal below
                curl_multi_remove_handle(multi_, easy);
                auto found = running_.find(easy);
                if (found == running_.end()) continue;
                auto transfer = std::move(found->second);
                running_.erase(found);
                finish(*transfer, result);
            }
            // Returns early for curl's own time-outs and for post()'s wake-up.
            curl_multi_poll(multi_, nullptr, 0, 60000, nullptr);
        }
    }

    void start(std::unique_ptr<Transfer> transfer) {
        auto& request = transfer->request;
        bool headersReady = true;
        for (const auto& [name, value] : request.headers) {
            if (!fitsInOneHeaderLine(name) || !fitsInOneHeaderLine(value)) {
                fail(*transfer, "header \"" + name + "\" has a line break or NUL in it");
                return;
            }
            // "Name:" alone would tell curl to leave the header out; "Name;"
            // sends it with an empty value.
            headersReady = headersReady && addHeader(*transfer, value.empty() ? name + ";" : name + ": " + value);
        }
        // curl would otherwise hold larger bodies back for a 100 Continue, and
        // label a body of no given type as a form.
        headersReady = headersReady && addHeader(*transfer, "Expect:");
        if (std::none_of(request.headers.begin(), request.headers.end(),
                         [](const auto& header) { return sameName(header.first, "Content-Type"); }))
            headersReady = headersReady && addHeader(*transfer, "Content-Type:");

        CURL* easy = transfer->easy = curl_easy_init();
        if (easy == nullptr || !headersReady) {
            fail(*transfer, "could not set up the request");
            return;
        }
        auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(request.timeout).count();
        curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        if (request.get) {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        } else {
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.data());
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        }
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer->headers);
        // curl reads 0 as "no limit"; anything shorter than 1 ms still is one.
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max<decltype(timeout)>(timeout, 1)));
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collectBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer->errorText);
        curl_easy_setopt(easy, CURLOPT_PRIVATE, transfer.get());
        if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
            fail(*transfer, "could not start the request");
            return;
        }
        running_.emplace(easy, std::move(transfer));
    }

    // False when curl could not take the line (it then keeps the list as it was).
    static bool addHeader(Transfer& transfer, const std::string& line) {
        curl_slist* longer = curl_slist_append(transfer.headers, line.c_str());
        if (longer == nullptr) return false;
        transfer.headers = longer;
        return true;
    }

    static void finish(Transfer& transfer, CURLcode result) {
        long status = 0;
        curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
        if (status != 0) transfer.response.status = status;
        if (result != CURLE_OK)
            transfer.response.error = transfer.errorText[0] != '\0' ? transfer.errorText : curl_easy_strerror(result);
        complete(transfer);
    }

    static void fail(Transfer& transfer, std::string error) {
        transfer.response.error = std::move(error);
        complete(transfer);
    }

    static void complete(Transfer& transfer) {
        auto completion = std::move(transfer.completion);
        if (completion) completion(std::move(transfer.response));
    }

    CURLM* multi_ = nullptr;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Transfer>> arrivals_; // guarded by mutex_
    std::unordered_map<CURL*, std::unique_ptr<Transfer>> running_; // worker thread only
    std::thread worker_;
};

} // namespace

HTTPClient& httpClient() {
    // Never destroyed: completions may still be due while the process exits.
    static auto* client = new CurlClient();
    return *client;
}

} // namespace Platform
