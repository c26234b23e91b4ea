#include "runtime/platform/http.h"
#include <curl/curl.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include "runtime/platform/shared_library.h"

namespace kem::platform {

namespace {

// libcurl, opened at the first request.
#define CURL_FUNCTIONS(F)                                                                                         \
    F(curl_global_init) F(curl_easy_init) F(curl_easy_cleanup) F(curl_easy_setopt) F(curl_easy_perform)       \
    F(curl_easy_getinfo) F(curl_slist_append) F(curl_slist_free_all)
KEM_LIBRARY_FUNCTIONS(curl, CURL_FUNCTIONS)
SharedLibrary libcurl(KEM_LIBCURL, curl_symbols);

// A body that finds no memory to grow into ends the transfer (a short
// count tells libcurl so): no exception may cross its C frames.
size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* response = static_cast<HttpResponse*>(user);
    try {
        response->body.insert(response->body.end(), data, data + size * count);
    } catch (const std::bad_alloc&) {
        response->out_of_memory = true;
        return 0;
    }
    return size * count;
}

// Every request gives up when no connection is made within this time, or
// when its transfer moves no byte for the idle time (KEM_HTTP_IDLE_SECONDS,
// a count of seconds, may shorten it: the tests do).
constexpr long CONNECT_SECONDS = 30;
constexpr long IDLE_SECONDS = 60;

long idle_seconds() {
    const char* text = std::getenv("KEM_HTTP_IDLE_SECONDS");
    if (!text) return IDLE_SECONDS;
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    return *text && !*end && n > 0 && n <= IDLE_SECONDS ? n : IDLE_SECONDS;
}

// libcurl hands over every header line of every response, redirects
// included: a status line starts a response afresh, and only the final
// response's fields are kept.
size_t on_header(char* data, size_t size, size_t count, void* user) {
    auto* headers = static_cast<std::string*>(user);
    const size_t n = size * count;
    std::string_view line(data, n);
    if (line.starts_with("HTTP/")) {
        headers->clear();
    } else if (line != "\r\n" && line != "\n") {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        headers->append(line);
        headers->append("\r\n");
    }
    return n;
}

bool ascii_equal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x + 32);
        if (y >= 'A' && y <= 'Z') y = char(y + 32);
        if (x != y) return false;
    }
    return true;
}

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// The asynchronous signals stay blocked while a request runs: a thread that
// libcurl starts to resolve a name inherits the mask, so the signals still
// reach the interpreter's thread only. A signal that arrives meanwhile ends
// the transfer (the progress callback sees it pending) and is delivered when
// the mask is restored; a SIGPIPE a write raised is taken back first.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t all;
        sigfillset(&all);
        for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT}) sigdelset(&all, fault);
        pthread_sigmask(SIG_BLOCK, &all, &old_);
        sigset_t pending;
        sigpending(&pending);
        pipe_was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;
    ~SignalsHeld() {
        sigset_t pending;
        sigpending(&pending);
        if (!pipe_was_pending_ && sigismember(&pending, SIGPIPE) == 1) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec now{};
            sigtimedwait(&pipe, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t old_;
    bool pipe_was_pending_ = false;
};

int on_progress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    sigset_t pending;
    sigpending(&pending);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        if (sigismember(&pending, sig) == 1) return 1;
    return 0;
}

bool global_ready() {
    static const bool ready = libcurl.ready() && curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

} // namespace

const char* http_library_missing() { return libcurl.ready() ? nullptr : libcurl.file(); }

bool http_request(const HttpRequest& request, HttpResponse& response) {
    response = HttpResponse{};
    if (!global_ready()) return false;
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) return false;
    CURL* c = curl.get();

    // Headers libcurl would add on its own are withheld unless the caller
    // gives them, so that a request carries only what it was given.
    curl_slist* list = nullptr;
    auto add = [&list](const std::string& line) {
        curl_slist* next = curl_slist_append(list, line.c_str());
        if (next) list = next;
        return next != nullptr;
    };
    for (const auto& [name, value] : request.headers) {
        // "Name;" sends a header with an empty value; "Name:" would remove it.
        if (!add(value.empty() ? name + ";" : name + ": " + value)) return false;
    }
    for (const char* own : {"Accept", "Content-Type", "Expect"}) {
        bool given = false;
        for (const auto& h : request.headers) given = given || ascii_equal(h.first, own);
        if (!given && !add(std::string(own) + ":")) return false;
    }
    std::unique_ptr<curl_slist, CurlDeleter> headers(list);

    curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, CONNECT_SECONDS);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, idle_seconds());
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &response.headers);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, on_progress);

    const std::string& m = request.method;
    if (m == "GET") {
        curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    } else if (m == "HEAD") {
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else {
        // A method other than GET and HEAD sends its body (an empty one when none is given).
        static const char empty[1] = {0};
        const char* data = request.body.empty() ? empty : reinterpret_cast<const char*>(request.body.data());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.has_body ? request.body.size() : 0));
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, data);
        if (m != "POST") curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, m.c_str());
    }
    SignalsHeld held;
    if (curl_easy_perform(c) != CURLE_OK) return false;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.status);
    return true;
}

} // namespace kem::platform
