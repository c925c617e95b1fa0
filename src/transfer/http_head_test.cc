#include "transfer/http_head.h"

#include <gtest/gtest.h>

namespace tvl {


namespace {

TEST(HttpHead, ContentRange) {
  struct Case {
    const char* text;
    bool ok;
    int64_t first, last, total;
  } cases[] = {
      {"bytes 0-99/100", true, 0, 99, 100},
      {" bytes 100-199/*\r\n", true, 100, 199, -1},
      {"BYTES 5-5/6", true, 5, 5, 6},
      {"bytes 3000000000-3999999999/4000000000", true, 3000000000, 3999999999, 4000000000},
      {"bytes */100", false, 0, 0, 0},       // the answer of a 416
      {"bytes 10-5/100", false, 0, 0, 0},    // last before first
      {"bytes 0-100/100", false, 0, 0, 0},   // last past the end
      {"bytes 0-99/100x", false, 0, 0, 0},
      {"bytes=0-99/100", false, 0, 0, 0},
      {"items 0-99/100", false, 0, 0, 0},
      {"bytes -1-99/100", false, 0, 0, 0},
      {"bytes 0-99999999999999999999/*", false, 0, 0, 0},  // overflow
      {"", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    int64_t f = 0, l = 0, t = 0;
    EXPECT_EQ(parseContentRange(c.text, &f, &l, &t), c.ok) << c.text;
    if (c.ok) EXPECT_EQ((std::vector<int64_t>{f, l, t}), (std::vector<int64_t>{c.first, c.last, c.total})) << c.text;
  }
}

TEST(HttpHead, FieldsAndLengths) {
  HttpResponseHead h;
  takeHeadField(h, "content-LENGTH", " 3000000000\r\n");
  takeHeadField(h, "ETag", " W/\"abc\" ");
  takeHeadField(h, "Last-Modified", "Tue, 04 Mar 2025 10:00:00 GMT\r\n");
  takeHeadField(h, "Content-Range", "bytes 7-9/10");
  takeHeadField(h, "X-Other", "1");
  EXPECT_TRUE(h.hasContentLength);
  EXPECT_EQ(h.contentLength, 3000000000);
  EXPECT_EQ(h.etag, "W/\"abc\"");
  EXPECT_EQ(h.lastModified, "Tue, 04 Mar 2025 10:00:00 GMT");
  EXPECT_TRUE(h.hasContentRange);
  EXPECT_EQ(h.rangeFirst, 7);
  takeHeadField(h, "Content-Range", "bytes */10");
  EXPECT_FALSE(h.hasContentRange);

  for (const char* bad : {"", "-1", "12x", "1 2", "99999999999999999999"}) EXPECT_EQ(parseLength64(bad), -1) << bad;
  EXPECT_EQ(parseLength64(" 42 "), 42);

  HttpRequest r;
  EXPECT_TRUE(rangeHeaderLines(r).empty());
  r.ifRange = "\"x\"";
  EXPECT_TRUE(rangeHeaderLines(r).empty());  // a validator alone asks for nothing
  r.rangeFrom = 1048576;
  EXPECT_EQ(rangeHeaderLines(r), (std::vector<std::string>{"Range: bytes=1048576-", "If-Range: \"x\""}));
  r.ifRange.clear();
  EXPECT_EQ(rangeHeaderLines(r), (std::vector<std::string>{"Range: bytes=1048576-"}));
}

}  // namespace

}  // namespace tvl
