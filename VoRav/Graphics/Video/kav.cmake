# Subsystem 6: video frame sources (clips through the media library,
# animated GIFs through the GIF reader).
kav_library(vorav_video DIRS VoRav/Graphics/Video DEPS vorav_graphics platform_media)
kav_test(vorav_video_tests DIRS VoRav/Graphics/Video DEPS vorav_video)
