# Cameras: Video4Linux2 and the test pattern through libavdevice, decoding with
# libavcodec, colour conversion with libswscale.
list(APPEND HALVORA_PLATFORM_LIBS PkgConfig::FFMPEG)
