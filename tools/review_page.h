// The review page: one self-contained HTML file that draws a night's report
// in the browser. Its data stand in one JSON script block and reach the page
// only as text; a Content-Security-Policy lets nothing but the page's own
// script and style run and loads nothing.
#ifndef PIRZOL_TOOLS_REVIEW_PAGE_H_
#define PIRZOL_TOOLS_REVIEW_PAGE_H_

#include <string>

// The page around data, compact JSON written by Json_Write (no '<' in it).
[[nodiscard]] std::string Page_Build(const std::string& data);

#endif  // PIRZOL_TOOLS_REVIEW_PAGE_H_
