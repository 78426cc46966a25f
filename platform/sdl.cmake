# The SDL side of the platform layer: window, canvas, input, fonts and the
# embedded images. Built only with the user interface.
if(VOKAR_BUILD_UI)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(VOKAR_SDL2 REQUIRED IMPORTED_TARGET sdl2 SDL2_ttf SDL2_image)

  set(image_dir ${PROJECT_SOURCE_DIR}/resources/images)
  file(GLOB image_files CONFIGURE_DEPENDS ${image_dir}/*.png)
  set(images_cpp ${CMAKE_CURRENT_BINARY_DIR}/images_data.cpp)
  add_custom_command(OUTPUT ${images_cpp}
    COMMAND ${CMAKE_COMMAND} -DDIR=${image_dir} -DOUT=${images_cpp}
            -P ${PROJECT_SOURCE_DIR}/resources/embed_images.cmake
    DEPENDS ${image_files} ${PROJECT_SOURCE_DIR}/resources/embed_images.cmake
    COMMENT "Embedding images")

  vokar_library(platform_sdl
    SOURCES canvas.cpp sdl_window.cpp ${images_cpp}
    DEPS vokar_platform PkgConfig::VOKAR_SDL2)
endif()
