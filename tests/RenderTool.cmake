# Checks of volren-render run as a child process: cmake -DTOOL=... -DDATA=... -DOUT=... -P RenderTool.cmake
function(run expected_rc)
  execute_process(COMMAND ${TOOL} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc)
    message(FATAL_ERROR "volren-render ${ARGN}: exit ${rc}, expected ${expected_rc}\n${out}\n${err}")
  endif()
  set(last_out "${out}" PARENT_SCOPE)
  set(last_err "${err}" PARENT_SCOPE)
endfunction()

file(MAKE_DIRECTORY ${OUT})
set(common ${DATA}/blob.dat)

# A PNG of the requested size; the size sits in the IHDR chunk, big-endian.
run(0 ${common} -o ${OUT}/slices.png --method slices --classification pre --size 64x48)
file(READ ${OUT}/slices.png header LIMIT 24 HEX)
string(SUBSTRING "${header}" 0 16 signature)
string(SUBSTRING "${header}" 32 16 size)
if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT size STREQUAL "0000004000000030")
  message(FATAL_ERROR "not a 64 x 48 PNG: ${header}")
endif()

# Timing lines: the frames drawn whole, then the view at rest until it converges.
run(0 ${common} -o ${OUT}/timed.png --method volume-texture --frames 3 --size 32x32)
if(NOT last_out MATCHES "^frames 3 median_ms [0-9.]+ min_ms [0-9.]+ max_ms [0-9.]+\nrested frames [0-9]+ ms [0-9.]+\n$")
  message(FATAL_ERROR "unexpected timing line: ${last_out}")
endif()

# The same picture compares equal to itself; a missing baseline exits 3 and
# leaves the picture; a different one exits 3 and writes the difference image.
run(0 ${common} -o ${OUT}/again.png --method slices --classification pre --size 64x48
    --reference ${OUT}/slices.png --threshold 0)
run(3 ${common} -o ${OUT}/nobase.png --reference ${OUT}/missing.png)
if(NOT EXISTS ${OUT}/nobase.png)
  message(FATAL_ERROR "no picture written without a baseline")
endif()
file(REMOVE ${OUT}/other.diff.png)
run(3 ${common} -o ${OUT}/other.png --method slices --classification pre --size 64x48 --view left
    --reference ${OUT}/slices.png --threshold 0)
if(NOT EXISTS ${OUT}/other.diff.png)
  message(FATAL_ERROR "no difference image written")
endif()

# A transparent picture is an RGBA PNG (colour type 6), an opaque one RGB (2).
run(0 ${common} -o ${OUT}/clear.png --size 64x48 --transparent)
file(READ ${OUT}/clear.png header LIMIT 26 HEX)
string(SUBSTRING "${header}" 50 2 colour_type)
if(NOT colour_type STREQUAL "06")
  message(FATAL_ERROR "--transparent did not write RGBA: ${header}")
endif()
file(READ ${OUT}/slices.png header LIMIT 26 HEX)
string(SUBSTRING "${header}" 50 2 colour_type)
if(NOT colour_type STREQUAL "02")
  message(FATAL_ERROR "an opaque picture is not RGB: ${header}")
endif()

# An orbit movie alone: an MP4 file (its first box is 'ftyp'), no picture.
file(REMOVE ${OUT}/orbit.mp4)
run(0 ${common} --movie ${OUT}/orbit.mp4 --orbit 4 --fps 8 --size 64x48)
file(READ ${OUT}/orbit.mp4 header LIMIT 8 HEX)
string(SUBSTRING "${header}" 8 8 box)
if(NOT box STREQUAL "66747970")
  message(FATAL_ERROR "not an MP4 file: ${header}")
endif()
# A movie that cannot be written ends the tool with one line and leaves nothing.
run(1 ${common} --movie ${OUT}/none/orbit.mp4 --orbit 2 --size 64x48)
if(NOT last_err MATCHES "volren-render: [^\n]*/none/orbit.mp4: cannot be written[^\n]*\n$")
  message(FATAL_ERROR "not one line naming the movie: ${last_err}")
endif()

# Usage errors exit 2 with a usage line; --help documents every option.
foreach(bad "--orbit;3" "--movie;${OUT}/odd.mp4;--size;63x48" "--movie;${OUT}/s.mp4;--sweep" "--movie;${OUT}/f.mp4;--fps;0" "--method;foo" "--size;0x10" "--rotate;1,2" "--turn;1" "--pan;a,b" "--distance;-3" "--frames;0" "--threshold;1" "--blend;add" "--bogus" "--ssim" "--converge;2")
  run(2 ${common} -o ${OUT}/bad.png ${bad})
  if(NOT last_err MATCHES "usage: volren-render")
    message(FATAL_ERROR "no usage line for ${bad}: ${last_err}")
  endif()
endforeach()
run(2 -o ${OUT}/bad.png)
run(2 ${DATA}/blob.dat)
run(0 --help)
foreach(option tf method classification colormap blend view rotate turn pan distance size step max-intensity adaptive drag
               lighting converge frames reference threshold ssim transparent movie orbit fps sweep)
  if(NOT last_out MATCHES "--${option}")
    message(FATAL_ERROR "--help does not document --${option}")
  endif()
endforeach()

# A volume or transfer function that cannot be read ends the tool with
# status 1 and one line naming the file and the cause.
run(1 ${DATA}/none.dat -o ${OUT}/none.png)
if(NOT last_err MATCHES "volren-render: [^\n]*/none.dat: cannot be opened: No such file or directory\n$")
  message(FATAL_ERROR "not one line naming the missing volume: ${last_err}")
endif()
run(1 ${common} -o ${OUT}/none.png --tf ${DATA}/none.tf)
if(NOT last_err MATCHES "volren-render: [^\n]*/none.tf: cannot be opened\n$")
  message(FATAL_ERROR "not one line naming the missing transfer function: ${last_err}")
endif()
