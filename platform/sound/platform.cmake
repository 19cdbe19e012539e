# The wave input records through ALSA.
list(APPEND HALVORA_PLATFORM_LIBS PkgConfig::ALSA)
