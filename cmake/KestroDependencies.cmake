# Finds FreeImage and OpenCV (core, imgproc) as installed by Debian's -dev packages,
# which ship neither CMake configs for these nor (for OpenCV's split packages) pkg-config files.
# Defines FreeImage::FreeImage, OpenCV::core and OpenCV::imgproc.
# Shared by the build and by the installed package's config.

if(NOT TARGET FreeImage::FreeImage)
  find_path(KESTRO_FREEIMAGE_INCLUDE_DIR FreeImage.h)
  find_library(KESTRO_FREEIMAGE_LIBRARY NAMES freeimage)
  if(NOT KESTRO_FREEIMAGE_INCLUDE_DIR OR NOT KESTRO_FREEIMAGE_LIBRARY)
    message(FATAL_ERROR "FreeImage not found: install libfreeimage-dev")
  endif()
  add_library(FreeImage::FreeImage UNKNOWN IMPORTED)
  set_target_properties(FreeImage::FreeImage PROPERTIES
    IMPORTED_LOCATION "${KESTRO_FREEIMAGE_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${KESTRO_FREEIMAGE_INCLUDE_DIR}")
endif()

if(NOT TARGET OpenCV::core)
  find_path(KESTRO_OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4)
  find_library(KESTRO_OPENCV_CORE_LIBRARY NAMES opencv_core)
  find_library(KESTRO_OPENCV_IMGPROC_LIBRARY NAMES opencv_imgproc)
  if(NOT KESTRO_OPENCV_INCLUDE_DIR OR NOT KESTRO_OPENCV_CORE_LIBRARY OR NOT KESTRO_OPENCV_IMGPROC_LIBRARY)
    message(FATAL_ERROR "OpenCV core/imgproc not found: install libopencv-core-dev libopencv-imgproc-dev")
  endif()
  add_library(OpenCV::core UNKNOWN IMPORTED)
  set_target_properties(OpenCV::core PROPERTIES
    IMPORTED_LOCATION "${KESTRO_OPENCV_CORE_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${KESTRO_OPENCV_INCLUDE_DIR}")
  add_library(OpenCV::imgproc UNKNOWN IMPORTED)
  set_target_properties(OpenCV::imgproc PROPERTIES
    IMPORTED_LOCATION "${KESTRO_OPENCV_IMGPROC_LIBRARY}"
    INTERFACE_LINK_LIBRARIES OpenCV::core)
endif()
