# Makes the review page's style and script C++ text (cmake -P): kStyle and
# kScript as raw strings, so the files stay plain CSS and JavaScript.
file(READ ${CSS} css)
file(READ ${JS} js)
foreach(text css js)
  string(FIND "${${text}}" ")PAGE\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${text} holds the raw string's delimiter )PAGE\"")
  endif()
endforeach()
file(WRITE ${OUT} "// Made by tools/embed.cmake from review_page.css and review_page.js.\n"
    "constexpr char kStyle[] = R\"PAGE(${css})PAGE\";\n"
    "constexpr char kScript[] = R\"PAGE(${js})PAGE\";\n")
