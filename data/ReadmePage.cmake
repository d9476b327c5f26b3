# cmake -DCMARK_GFM=... -DIN=README.md -DOUT=README.html -P ReadmePage.cmake
# cmark-gfm writes the body only; the page needs its encoding stated, or a browser opening the
# file may take the UTF-8 text for another encoding.
execute_process(COMMAND "${CMARK_GFM}" --extension table --extension autolink "${IN}"
    OUTPUT_VARIABLE body RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmark-gfm failed on ${IN}")
endif()
file(WRITE "${OUT}" "<!DOCTYPE html>
<html lang=\"en\">
<head>
<meta charset=\"utf-8\">
<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">
<title>Ferrowick</title>
<style>
body { max-width: 60em; margin: 2em auto; padding: 0 1em; font-family: sans-serif; line-height: 1.5; }
img { max-width: 100%; }
pre { background: #f4f4f4; padding: 0.6em; overflow-x: auto; }
table { border-collapse: collapse; }
th, td { border: 1px solid #ccc; padding: 0.2em 0.5em; }
</style>
</head>
<body>
${body}</body>
</html>
")
