# Subsystem 3: text without a platform: Unicode character information,
# wide-string utilities, abstract text elements and vectorizer, the text
# producer and descriptors, glyph and font caches.
kav_library(vorav_text DIRS VoRav/Text DEPS vorav vorav_graphics vorav_vector)
kav_test(text_tests DIRS VoRav/Text DEPS vorav_text)
