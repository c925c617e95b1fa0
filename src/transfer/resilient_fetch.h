// Fetching one file so that it survives real networks: transient failures
// are retried with growing, jittered pauses; a body that broke off is
// continued with a range request guarded by the server's validator; a large
// partial stays for the next run. With no retries this is exactly
// fetchToTempFile: one try.
//
// A body assembled from more than one transfer is proved whole before it
// counts (the zip's CRC-32 for packed files, the list's MD5 for plain ones);
// one that fails the proof is fetched whole once more.
#pragma once

#include <cstdint>
#include <string>

#include "transfer/download.h"
#include "transfer/retry.h"

namespace tvl {


// What the list says of the file: its digest and size (to tie a partial to
// its entry) and whether it is packed (how a resumed body is proved).
struct FetchTarget {
  std::string digest;
  int64_t size = 0;
  bool packed = false;
};

// Proves a resumed body: true when the staged file is the listed one.
using BodyProof = bool (*)(const std::string& stagingPath, const FetchTarget& target, void* context);

// policy.retries 0 is the one-try road.
FetchResult fetchWithRetries(DownloadSession& session, const HttpRequest& request, const FetchTarget& target,
                             const RetryPolicy& policy, BodyProof prove, void* proofContext);

}  // namespace tvl
