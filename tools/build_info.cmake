# Writes the Kem source that fills system/build/git from the repository the
# program is built from: run at every build, it rewrites OUT only when the
# commit changed, so an unchanged checkout rebuilds nothing.
#   cmake -DSOURCE=<repository> -DOUT=<file.kem> -P build_info.cmake
function(git out)
  execute_process(COMMAND git ${ARGN} WORKING_DIRECTORY ${SOURCE} OUTPUT_VARIABLE text
                  ERROR_QUIET RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed)
    set(text "")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# A text as a Kem string: the escape character and the quote escaped.
function(kem_string out text)
  string(REPLACE "^" "^^" text "${text}")
  string(REPLACE "\"" "^\"" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

git(commit rev-parse HEAD)
if(commit STREQUAL "")
  set(git "none")
else()
  git(branch rev-parse --abbrev-ref HEAD)
  git(tag describe --tags --abbrev=0)
  if(tag STREQUAL "")
    set(tag_value "none")
    git(ahead rev-list --count HEAD)
  else()
    set(tag_value "#${tag}")
    git(ahead rev-list --count ${tag}..HEAD)
  endif()
  git(seconds log -1 --format=%ct)
  git(message log -1 --format=%s)
  kem_string(branch_value "${branch}")
  kem_string(message_value "${message}")
  set(git "make object! [
	branch: ${branch_value}
	tag: ${tag_value}
	ahead: ${ahead}
	date: to-local-date to date! ${seconds}
	commit: #${commit}
	message: ${message_value}
]")
endif()

set(text "Kem [
	Title: \"The build\"
	Purpose: \"Generated at build time from the repository: the commit the program is built from\"
]

system/build/git: ${git}
")
set(current "")
if(EXISTS ${OUT})
  file(READ ${OUT} current)
endif()
if(NOT current STREQUAL text)
  file(WRITE ${OUT} "${text}")
endif()
