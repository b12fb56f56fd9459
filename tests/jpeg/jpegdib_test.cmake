# Runs `jpegdib decode` as users do: a picture gives status 0 and a bitmap
# file of 14 + DIB bytes starting "BM" with bfOffBits 54; a missing file gives
# status 103 and no output; a progressive one 106 and no output; a frame above
# --max-pixels (default 100,000,000) 105, a message and no output. `jpegdib
# photo` decodes the progressive one, writes ceil(w / N) x ceil(h / N) at
# --scale N and the box's size at --fit, and fails as decode does.
# cmake -DJPEGDIB=... -DDATA=... -DWORK=... [-DEMULATOR=...] -P jpegdib_test.cmake
function(host_path out path)
  if(EMULATOR)
    string(REPLACE "/" "\\" path "${path}")
    set(path "Z:${path}")
  endif()
  set(${out} "${path}" PARENT_SCOPE)
endfunction()

function(run_jpegdib expected in out)  # options before IN in ARGN
  host_path(hin "${in}")
  host_path(hout "${out}")
  file(REMOVE "${out}")
  if(NOT command)
    set(command decode)
  endif()
  execute_process(COMMAND ${EMULATOR} "${JPEGDIB}" ${command} ${ARGN} "${hin}" "${hout}"
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL expected)
    message(FATAL_ERROR "jpegdib decode ${in}: status ${rc}, expected ${expected} (${err})")
  endif()
  if(expected EQUAL 0)
    if(NOT EXISTS "${out}")
      message(FATAL_ERROR "no bitmap file written for ${in}")
    endif()
  else()
    if(EXISTS "${out}")
      message(FATAL_ERROR "a bitmap file was written on failure for ${in}")
    endif()
    if(NOT err MATCHES "${expected} ")
      message(FATAL_ERROR "stderr does not give the code: ${err}")
    endif()
  endif()
endfunction()

separate_arguments(EMULATOR)
run_jpegdib(0 "${DATA}/chelsea-17x17-2x2.jpg" "${WORK}/jpegdib-out.bmp")
file(READ "${WORK}/jpegdib-out.bmp" head LIMIT 54 HEX)
file(SIZE "${WORK}/jpegdib-out.bmp" size)
string(SUBSTRING "${head}" 0 4 magic)
string(SUBSTRING "${head}" 20 8 offBits)
# 14 + 40 + (17 + 15) rows x 52 bytes
if(NOT magic STREQUAL "424d" OR NOT offBits STREQUAL "36000000" OR NOT size EQUAL 1718)
  message(FATAL_ERROR "bad bitmap file: ${magic} ${offBits} ${size}")
endif()
run_jpegdib(103 "${WORK}/no-such-file.jpg" "${WORK}/jpegdib-missing.bmp")
run_jpegdib(106 "${DATA}/rocket-47x31-progressive.jpg" "${WORK}/jpegdib-progressive.bmp")

# 17 x 17 is 289 pixels; the same file claiming 20000 x 20000 meets the default limit.
run_jpegdib(105 "${DATA}/chelsea-17x17-grey.jpg" "${WORK}/jpegdib-capped.bmp" --max-pixels 288)
run_jpegdib(0 "${DATA}/chelsea-17x17-grey.jpg" "${WORK}/jpegdib-capped.bmp" --max-pixels 289)
file(READ "${DATA}/chelsea-17x17-grey.jpg" hex HEX)
string(REPLACE "ffc0000b0800110011" "ffc0000b084e204e20" hex "${hex}")
string(REGEX REPLACE "(..)" "\\\\x\\1" hex "${hex}")
execute_process(COMMAND printf "${hex}" OUTPUT_FILE "${WORK}/jpegdib-huge.jpg")
run_jpegdib(105 "${WORK}/jpegdib-huge.jpg" "${WORK}/jpegdib-huge.bmp")

# The photo decode; the size of what it wrote (below 256 x 256).
function(expect_bitmap_size file width height)
  file(READ "${file}" head LIMIT 23 HEX)
  string(SUBSTRING "${head}" 36 2 w)
  string(SUBSTRING "${head}" 44 2 h)
  math(EXPR w "0x${w}")
  math(EXPR h "0x${h}")
  if(NOT w EQUAL width OR NOT h EQUAL height)
    message(FATAL_ERROR "${file}: ${w} x ${h}, expected ${width} x ${height}")
  endif()
endfunction()
set(command photo)
run_jpegdib(0 "${DATA}/rocket-47x31-progressive.jpg" "${WORK}/jpegdib-photo.bmp" --scale 4)
expect_bitmap_size("${WORK}/jpegdib-photo.bmp" 12 8)
run_jpegdib(0 "${DATA}/rocket-47x31-progressive.jpg" "${WORK}/jpegdib-photo.bmp" --fit 94x94)
expect_bitmap_size("${WORK}/jpegdib-photo.bmp" 94 62)
run_jpegdib(103 "${WORK}/no-such-file.jpg" "${WORK}/jpegdib-photo-missing.bmp")
run_jpegdib(106 "${DATA}/rocket-47x31-arithmetic.jpg" "${WORK}/jpegdib-photo-arithmetic.bmp" --scale 2)
