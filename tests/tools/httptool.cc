// Drives the platform's HTTP transport from the command line, so that tests
// can watch the real WinINet (under Wine) and the real libcurl against a
// server that counts and logs what it gets:
//
//   httptool HOST[:PORT] PATH [from=N] [if-range=V] [reuse] [threads=T]
//            [repeat=R] [out=FILE]
//
// T threads each make R requests for PATH, one after another. Prints one
// line per response head and one per ended request, fields separated by
// tabs:
//   HEAD <thread> <n> status=S length=L etag=E modified=M range=F-L/T
//   END <thread> <n> outcome=ended|broken|refused|notstarted code=C bytes=B
// out=FILE writes the body of the last request of thread 0 to FILE.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transfer/http.h"

using namespace tvl;

namespace {

std::mutex outputLock;

void say(const std::string& line) {
  std::lock_guard<std::mutex> lock(outputLock);
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

struct ToolSink : HttpSink {
  std::string tag;
  std::string body;
  bool keep = false;
  int64_t bytes = 0;
  bool onHead(const HttpResponseHead& h) override {
    std::string range = h.hasContentRange ? std::to_string(h.rangeFirst) + "-" + std::to_string(h.rangeLast) + "/" +
                                                std::to_string(h.rangeTotal)
                                          : "";
    say("HEAD\t" + tag + "\tstatus=" + std::to_string(h.status) +
        "\tlength=" + (h.hasContentLength ? std::to_string(h.contentLength) : "") + "\tetag=" + h.etag +
        "\tmodified=" + h.lastModified + "\trange=" + range);
    return true;
  }
  bool onData(const char* data, size_t size) override {
    bytes += static_cast<int64_t>(size);
    if (keep) body.append(data, size);
    return true;
  }
};

const char* outcomeName(HttpOutcome o) {
  switch (o) {
    case HttpOutcome::kEnded:
      return "ended";
    case HttpOutcome::kBroken:
      return "broken";
    case HttpOutcome::kRefused:
      return "refused";
    default:
      return "notstarted";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: httptool HOST[:PORT] PATH [from=N] [if-range=V] [reuse] [threads=T] [repeat=R] [out=FILE]\n",
               stderr);
    return 2;
  }
  HttpRequest request;
  std::string host = argv[1];
  size_t colon = host.find(':');
  request.host = host.substr(0, colon);
  if (colon != std::string::npos) request.port = static_cast<uint16_t>(std::atoi(host.c_str() + colon + 1));
  request.objectPath = argv[2];
  request.agent = "TervalisOnline2D";
  int threads = 1, repeat = 1;
  std::string out;
  for (int i = 3; i < argc; ++i) {
    std::string a = argv[i];
    if (a.compare(0, 5, "from=") == 0) request.rangeFrom = std::strtoll(a.c_str() + 5, nullptr, 10);
    if (a.compare(0, 9, "if-range=") == 0) request.ifRange = a.substr(9);
    if (a == "reuse") request.reuseConnection = true;
    if (a.compare(0, 8, "threads=") == 0) threads = std::atoi(a.c_str() + 8);
    if (a.compare(0, 7, "repeat=") == 0) repeat = std::atoi(a.c_str() + 7);
    if (a.compare(0, 4, "out=") == 0) out = a.substr(4);
  }
  HttpClient& client = platformHttpClient();
  std::string lastBody;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      for (int n = 0; n < repeat; ++n) {
        ToolSink sink;
        sink.tag = std::to_string(t) + "\t" + std::to_string(n);
        sink.keep = t == 0 && n == repeat - 1 && !out.empty();
        HttpResult r = client.get(request, sink);
        say("END\t" + sink.tag + "\toutcome=" + outcomeName(r.outcome) + "\tcode=" + std::to_string(r.code) +
            "\tbytes=" + std::to_string(sink.bytes));
        if (sink.keep) lastBody = sink.body;
      }
    });
  }
  for (std::thread& w : workers) w.join();
  if (!out.empty()) {
    std::FILE* f = std::fopen(out.c_str(), "wb");
    if (!f || std::fwrite(lastBody.data(), 1, lastBody.size(), f) != lastBody.size()) return 1;
    std::fclose(f);
  }
  return 0;
}
