# Makes the signed packs of the pack and extraction tests with the
# publisher's tool: one from a directory tree made here (with fixed file
# times), the others from the payloads of make_payloads.py.
#
#   cmake -DPACKTOOL=... -DKEY=... -DPYTHON=... -DSOURCE=... -DOUT=... -P make_test_packs.cmake
foreach(var PACKTOOL KEY PYTHON SOURCE OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make_test_packs.cmake: ${var} not given")
  endif()
endforeach()
if(NOT EXISTS "${PACKTOOL}")
  message(FATAL_ERROR "The pack tool ${PACKTOOL} does not exist: build the host preset first "
                      "(or pass -DUPDATER_PACK_TOOL=<host build>/bin/packtool)")
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${errors}")
  endif()
endfunction()

file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}/agreement")

# The tree: nested directories, an empty directory, an empty file, a file
# that deflates well and one that does not. Each path gets its own time.
set(tree "${OUT}/tree")
string(REPEAT "Letterwing update payload line.\n" 12000 compressible)
string(RANDOM LENGTH 70000 RANDOM_SEED 7
       ALPHABET "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ" noisy)
file(WRITE "${tree}/readme.txt" "A payload made from a directory tree.\n")
file(WRITE "${tree}/app/compressible.txt" "${compressible}")
file(WRITE "${tree}/app/noisy.txt" "${noisy}")
file(WRITE "${tree}/app/empty.txt" "")
file(WRITE "${tree}/app/nested/deeper/leaf.txt" "leaf\n")
file(MAKE_DIRECTORY "${tree}/empty-dir")
set(time 1600000000)
foreach(path readme.txt app/compressible.txt app/noisy.txt app/empty.txt
             app/nested/deeper/leaf.txt app/nested/deeper app/nested empty-dir app)
  math(EXPR time "${time} + 86461")
  run(touch -m -d "@${time}" "${tree}/${path}")
endforeach()
run("${PACKTOOL}" build "${tree}" "${KEY}" "${OUT}/tree.pack")

run("${PYTHON}" "${SOURCE}/make_payloads.py" "${OUT}/payloads")
file(STRINGS "${OUT}/payloads/payloads.txt" payloads)
set(packs "tree.pack\n")
foreach(payload ${payloads})
  string(REGEX REPLACE "\\.[a-z]+$" ".pack" pack "${payload}")
  run("${PACKTOOL}" wrap --unchecked "${OUT}/payloads/${payload}" "${KEY}" "${OUT}/${pack}")
  string(APPEND packs "${pack}\n")
endforeach()
file(WRITE "${OUT}/packs.txt" "${packs}")
