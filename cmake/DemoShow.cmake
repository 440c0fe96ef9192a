# The demo show, packed from demo/ (a plain project folder) at build time.
if(TARGET kivpack AND TARGET kiv_container)
  set(demo_dir ${PROJECT_SOURCE_DIR}/demo)
  file(GLOB_RECURSE demo_files CONFIGURE_DEPENDS ${demo_dir}/*)
  set(demo_show ${CMAKE_BINARY_DIR}/demo/demo.KvShow)
  add_custom_command(
    OUTPUT ${demo_show}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/demo
    COMMAND $<TARGET_FILE:kivpack> create ${demo_dir} -o ${demo_show}
    DEPENDS kivpack ${demo_files}
    COMMENT "Packing the demo show"
    VERBATIM)
  # The second demo: plain slides under the video-style navigation bar.
  set(video_dir ${PROJECT_SOURCE_DIR}/demo-video)
  file(GLOB_RECURSE video_files CONFIGURE_DEPENDS ${video_dir}/*)
  set(video_show ${CMAKE_BINARY_DIR}/demo/video.KvShow)
  add_custom_command(
    OUTPUT ${video_show}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/demo
    COMMAND $<TARGET_FILE:kivpack> create ${video_dir} -o ${video_show}
    DEPENDS kivpack ${video_files}
    COMMENT "Packing the video bar demo show"
    VERBATIM)
  add_custom_target(demo_show ALL DEPENDS ${demo_show} ${video_show})
endif()
