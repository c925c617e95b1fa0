// The least a WinINet download can do, to tell Wine's own cost from the
// launcher's: GET one URL and read its body in blocks, then optionally
// each of the steps the launcher adds, one at a time.
//
//   wininet_get URL OUT [read-bytes] [steps]
//
// OUT "-" keeps nothing. steps is a list of letters: q asks
// InternetQueryDataAvailable before each read (as the launcher does),
// h hashes the body with CryptoAPI's MD5 in 8 KiB chunks, w writes OUT with
// WriteFile per block (default: through the C library's 256 KiB buffer),
// c lets WinINet write the body into its cache too (INTERNET_FLAG_RELOAD
// alone).
// Prints the seconds spent and the bytes read.
#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: wininet_get URL OUT [read-bytes] [steps]\n");
    return 2;
  }
  DWORD readSize = argc > 3 ? static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)) : 1024 * 1024;  // the launcher's read while data flows
  std::string steps = argc > 4 ? argv[4] : "";
  bool query = steps.find('q') != std::string::npos, hash = steps.find('h') != std::string::npos,
       direct = steps.find('w') != std::string::npos, cache = steps.find('c') != std::string::npos;
  auto start = std::chrono::steady_clock::now();

  URL_COMPONENTSA parts = {};
  char host[256], path[2048];
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof host;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = sizeof path;
  if (!InternetCrackUrlA(argv[1], 0, 0, &parts)) return 3;
  bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  HINTERNET internet = InternetOpenA("wininet_get", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET connection =
      InternetConnectA(internet, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET request = HttpOpenRequestA(connection, nullptr, path, nullptr, nullptr, nullptr,
                                       INTERNET_FLAG_RELOAD | (cache ? 0 : INTERNET_FLAG_NO_CACHE_WRITE) |
                                           (secure ? INTERNET_FLAG_SECURE : 0),
                                       0);
  if (!request || !HttpSendRequestA(request, nullptr, 0, nullptr, 0)) {
    std::fprintf(stderr, "request failed: %lu\n", GetLastError());
    return 4;
  }

  HCRYPTPROV provider = 0;
  HCRYPTHASH md5 = 0;
  if (hash && (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ||
               !CryptCreateHash(provider, CALG_MD5, 0, 0, &md5)))
    return 5;
  bool keep = std::strcmp(argv[2], "-") != 0;
  std::FILE* file = keep && !direct ? std::fopen(argv[2], "wb") : nullptr;
  if (file) std::setvbuf(file, nullptr, _IOFBF, 256 * 1024);
  HANDLE handle = keep && direct ? CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)
                                 : INVALID_HANDLE_VALUE;

  std::vector<char> buffer(readSize);
  unsigned long long total = 0;
  for (;;) {
    DWORD available = 0;
    if (query && !InternetQueryDataAvailable(request, &available, 0, 0)) return 6;
    DWORD got = 0;
    if (!InternetReadFile(request, buffer.data(), readSize, &got)) return 7;
    if (got == 0) break;
    total += got;
    if (hash)
      for (DWORD done = 0; done < got; done += 8192)
        CryptHashData(md5, reinterpret_cast<BYTE*>(buffer.data() + done), got - done < 8192 ? got - done : 8192, 0);
    if (file) std::fwrite(buffer.data(), 1, got, file);
    DWORD written = 0;
    if (handle != INVALID_HANDLE_VALUE) WriteFile(handle, buffer.data(), got, &written, nullptr);
  }
  if (file) std::fclose(file);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f s, %llu bytes\n", seconds, total);
  InternetCloseHandle(request);
  InternetCloseHandle(connection);
  InternetCloseHandle(internet);
  return 0;
}
