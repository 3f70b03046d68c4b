# include(app/resources/busy_picture.cmake) in a CMakeLists.txt, then
# kestrane_busy_picture_source(var): sets var to a generated .cpp that defines
# kestrane::busyPictureJpeg() (app/busy_picture.h) from busy_picture.jpg; add it to the target that
# holds the busy window.
set(KESTRANE_BUSY_PICTURE_DIR ${CMAKE_CURRENT_LIST_DIR})

function(kestrane_busy_picture_source var)
    set(output ${CMAKE_CURRENT_BINARY_DIR}/busy_picture_data.cpp)
    add_custom_command(
        OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND}
            -DINPUT=${KESTRANE_BUSY_PICTURE_DIR}/busy_picture.jpg
            -DOUTPUT=${output}
            -DFUNCTION=busyPictureJpeg
            -DNAMESPACE=kestrane
            -DHEADER=app/busy_picture.h
            -P ${KESTRANE_BUSY_PICTURE_DIR}/embed_file.cmake
        DEPENDS ${KESTRANE_BUSY_PICTURE_DIR}/busy_picture.jpg ${KESTRANE_BUSY_PICTURE_DIR}/embed_file.cmake
        COMMENT "Embedding the busy window's picture"
        VERBATIM)
    set(${var} ${output} PARENT_SCOPE)
endfunction()
