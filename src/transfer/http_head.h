// The parts of a request and a response head that resuming a transfer
// needs, written once for both transports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transfer/http.h"

namespace tvl {


// The extra request header lines ("Name: value", no line end) for a
// request's range fields: none for a whole body.
std::vector<std::string> rangeHeaderLines(const HttpRequest& request);

// A non-negative decimal number after optional white space, ending at the
// end of the text or at white space; -1 for anything else (also overflow).
int64_t parseLength64(const std::string& text);

// "bytes first-last/total" or "bytes first-last/*" (total -1). False for
// anything else, also "bytes */total" (the answer of a 416) and ranges that
// contradict themselves (last before first, last at or past total).
bool parseContentRange(const std::string& text, int64_t* first, int64_t* last, int64_t* total);

// Takes one header of a response into head when it is one of those head
// holds (Content-Length, ETag, Last-Modified, Content-Range; names in any
// case); value is trimmed of surrounding white space.
void takeHeadField(HttpResponseHead& head, const std::string& name, const std::string& value);

}  // namespace tvl
