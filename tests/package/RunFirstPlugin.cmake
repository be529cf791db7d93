# cmake -P script: installs into a scratch prefix and moves the prefix; plays
# the installed sample and fetches the page with the moved programs; then
# builds docs/first-plugin.md's plug-in from the doc's own blocks (files
# marked "file=NAME", commands marked "run=NAME", run as written with PREFIX
# set), once with CMake and once with pkg-config, and runs each build under
# the moved orvelnode over standard input and output.
# A folder of this run's own, so that runs at the same time in one build
# tree leave each other alone; it is kept when the run fails.
string(RANDOM LENGTH 8 run)
set(WORK_DIR ${WORK_DIR}/${run})
set(staged ${WORK_DIR}/staged)
set(prefix ${WORK_DIR}/moved/prefix)

include(${CMAKE_CURRENT_LIST_DIR}/RunCommand.cmake)

run(${CMAKE_COMMAND} --install ${VORN_BUILD_DIR} --prefix ${staged})
file(MAKE_DIRECTORY ${WORK_DIR}/moved)
file(RENAME ${staged} ${prefix})

# The installed sample, played by the moved orvelclient: it fails unless
# orvelnode loaded the installed plug-ins and contexts and ended cleanly.
set(sample ${prefix}/share/orvelnode/sample)
run(${prefix}/bin/orvelclient ${sample}/manifest.json ${sample}/session.jsonl)

# The page, served by the moved orvelnode from the moved prefix (marked, so
# that the build tree's copy would not pass). Its input stays open while
# the test needs it; it is stopped after the fetch, or ends by itself.
file(APPEND ${prefix}/share/orvelnode/web/index.html "<!-- the moved prefix -->\n")
execute_process(COMMAND sh -c "sleep 15 2>/dev/null | \"$0\" --listen 0 --no-token \"$1\" >/dev/null 2>listening.txt & echo $! >orvelnode.pid"
  ${prefix}/bin/orvelnode ${sample}/manifest.json WORKING_DIRECTORY ${WORK_DIR})
foreach(i RANGE 100)
  if(EXISTS ${WORK_DIR}/listening.txt)
    file(READ ${WORK_DIR}/listening.txt listening)
    if(listening MATCHES "listening on (http://127.0.0.1:[0-9]+/)")
      break()
    endif()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 0.1)
endforeach()
set(ENV{http_proxy} "")
set(ENV{HTTP_PROXY} "")
file(DOWNLOAD "${CMAKE_MATCH_1}" ${WORK_DIR}/index.html STATUS status)
file(READ ${WORK_DIR}/index.html page)
file(STRINGS ${WORK_DIR}/orvelnode.pid pid)
execute_process(COMMAND kill ${pid})
if(NOT status MATCHES "^0;" OR NOT page MATCHES "<!-- the moved prefix -->")
  message(FATAL_ERROR "The moved orvelnode did not serve its page (${status}): ${listening}\n${page}")
endif()

# The doc's blocks: "```<language> file=NAME" or "```<language> run=NAME",
# up to the closing fence.
file(READ ${DOC} doc)
set(rest "${doc}")
set(files "")
set(runs "")
while(rest MATCHES "\n```[a-z]+ (file|run)=([^\n]+)\n")
  set(kind ${CMAKE_MATCH_1})
  set(name ${CMAKE_MATCH_2})
  string(FIND "${rest}" "${CMAKE_MATCH_0}" at)
  string(LENGTH "${CMAKE_MATCH_0}" fence)
  math(EXPR at "${at} + ${fence}")
  string(SUBSTRING "${rest}" ${at} -1 rest)
  string(FIND "${rest}" "```" end)
  string(SUBSTRING "${rest}" 0 ${end} body)
  string(SUBSTRING "${rest}" ${end} -1 rest)
  if(kind STREQUAL "file")
    set(files_${name} "${body}")
    list(APPEND files ${name})
  else()
    set(run_${name} "${body}")
    list(APPEND runs ${name})
  endif()
endwhile()
if(NOT files STREQUAL "MyPlugin.cpp;manifest.json;CMakeLists.txt" OR NOT runs STREQUAL "cmake;pkg-config")
  message(FATAL_ERROR "The doc's marked blocks are files '${files}' and commands '${runs}'")
endif()

# The requests: the remote function, the form view's tweakers, a checked
# write, and the function again, which must see the write.
file(WRITE ${WORK_DIR}/session.jsonl
  "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"shop.shelf.area\"}\n"
  "{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"vorn.describeView\",\"params\":{\"context\":\"shelf\",\"view\":\"form\"}}\n"
  "{\"jsonrpc\":\"2.0\",\"id\":3,\"method\":\"vorn.setValue\",\"params\":{\"context\":\"shelf\",\"object\":\"width\",\"value\":1000}}\n"
  "{\"jsonrpc\":\"2.0\",\"id\":4,\"method\":\"shop.shelf.area\"}\n")
set(expected
  "\"id\":1,\"result\":0.24}"
  "\"tweaker\":\"form/width\",\"kind\":\"number\""
  "\"tweaker\":\"form/depth\",\"kind\":\"number\""
  "\"tweaker\":\"form/finish\",\"kind\":\"choice\""
  "\"id\":4,\"result\":0.3}")

set(ENV{PREFIX} ${prefix})
set(ENV{CMAKE_GENERATOR} ${GENERATOR})
set(ENV{CXX} ${CXX_COMPILER})
set(ENV{PKG_CONFIG_PATH} "")
foreach(way IN LISTS runs)
  set(dir ${WORK_DIR}/${way})
  foreach(name IN LISTS files)
    file(WRITE ${dir}/${name} "${files_${name}}")
  endforeach()
  file(WRITE ${dir}/build.sh "set -e\n${run_${way}}")
  execute_process(COMMAND sh build.sh WORKING_DIRECTORY ${dir} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "Building with ${way} failed (${rc}):\n${out}")
  endif()
  execute_process(COMMAND ${prefix}/bin/orvelnode manifest.json WORKING_DIRECTORY ${dir}
    INPUT_FILE ${WORK_DIR}/session.jsonl RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  foreach(text IN LISTS expected)
    string(FIND "${out}" "${text}" found)
    if(NOT rc EQUAL 0 OR found EQUAL -1)
      message(FATAL_ERROR "Built with ${way}, orvelnode (status ${rc}) did not answer ${text}:\n${out}\n${err}")
    endif()
  endforeach()
  message(STATUS "${way}: the plug-in answers under the moved orvelnode")
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
