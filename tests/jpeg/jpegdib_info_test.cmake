# Runs `jpegdib info` and `jpegdib decode --cooperative` as users do: the
# information scan prints one JSON object and exits with the scan's result;
# the cooperative decode writes the same picture in a block of the height
# rounded up to 8 rows.
# cmake -DJPEGDIB=... -DDATA=... -DWORK=... [-DEMULATOR=...] -P jpegdib_info_test.cmake
function(host_path out path)
  if(EMULATOR)
    string(REPLACE "/" "\\" path "${path}")
    set(path "Z:${path}")
  endif()
  set(${out} "${path}" PARENT_SCOPE)
endfunction()

function(expect_info expected_status in expected_json)  # options before IN in ARGN
  host_path(hin "${in}")
  execute_process(COMMAND ${EMULATOR} "${JPEGDIB}" info ${ARGN} "${hin}" RESULT_VARIABLE rc OUTPUT_VARIABLE out)
  string(STRIP "${out}" out)
  if(NOT rc EQUAL expected_status OR NOT out STREQUAL expected_json)
    message(FATAL_ERROR "jpegdib info ${in}: status ${rc}, output\n${out}\nexpected ${expected_status}\n${expected_json}")
  endif()
endfunction()

separate_arguments(EMULATOR)
expect_info(0 "${DATA}/chelsea-17x17-2x2.jpg"
  [[{"result": 0, "width": 17, "height": 17, "isGreyscale": 0, "averageQuant": 28, "samplingMode": 4, "restartInterval": 0, "commentLength": 0, "comment": ""}]])
expect_info(106 "${DATA}/rocket-47x31-progressive.jpg"
  [[{"result": 106, "width": 0, "height": 0, "isGreyscale": 0, "averageQuant": 0, "samplingMode": 0, "restartInterval": 0, "commentLength": 0, "comment": ""}]])
expect_info(103 "${WORK}/no-such-file.jpg"
  [[{"result": 103, "width": 0, "height": 0, "isGreyscale": 0, "averageQuant": 0, "samplingMode": 0, "restartInterval": 0, "commentLength": 0, "comment": ""}]])

# A comment with a quote, a backslash and bytes outside printable ASCII, and a
# restart interval: SOI, DRI 0x0104, COM, SOF0 (one component), EOI. (CMake
# strings cannot hold zero bytes; printf writes them.)
execute_process(COMMAND printf "\\377\\330\\377\\335\\0\\4\\1\\4\\377\\376\\0\\14\"\\\\x\\t\\351\\202\\240\\177\\303\\251\\377\\300\\0\\13\\10\\0\\11\\0\\41\\1\\1\\21\\0\\377\\331"
                OUTPUT_FILE "${WORK}/jpegdib-comment.jpg" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot write the test file")
endif()
expect_info(0 "${WORK}/jpegdib-comment.jpg"
  [[{"result": 0, "width": 33, "height": 9, "isGreyscale": 1, "averageQuant": 0, "samplingMode": 0, "restartInterval": 260, "commentLength": 10, "comment": "\"\\x\u0009\u00E9\u0082\u00A0\u007F\u00C3\u00A9"}]])

# A frame far above the decode's limit is reported all the same: SOI, SOF0 of
# 20000 x 40000 (one component), EOI.
execute_process(COMMAND printf "\\377\\330\\377\\300\\0\\13\\10\\234\\100\\116\\40\\1\\1\\21\\0\\377\\331"
                OUTPUT_FILE "${WORK}/jpegdib-huge.jpg")
expect_info(0 "${WORK}/jpegdib-huge.jpg"
  [[{"result": 0, "width": 20000, "height": 40000, "isGreyscale": 1, "averageQuant": 0, "samplingMode": 0, "restartInterval": 0, "commentLength": 0, "comment": ""}]])

# decode --cooperative: 33 x 9 rounds up to 16 rows: 14 + 40 + (16 + 15) x 100.
host_path(hin "${DATA}/chelsea-33x9-1x1.jpg")
host_path(hout "${WORK}/jpegdib-cooperative.bmp")
file(REMOVE "${WORK}/jpegdib-cooperative.bmp")
execute_process(COMMAND ${EMULATOR} "${JPEGDIB}" decode --cooperative "${hin}" "${hout}" RESULT_VARIABLE rc)
file(SIZE "${WORK}/jpegdib-cooperative.bmp" size)
if(NOT rc EQUAL 0 OR NOT size EQUAL 3154)
  message(FATAL_ERROR "jpegdib decode --cooperative: status ${rc}, ${size} bytes, expected 0 and 3154")
endif()
