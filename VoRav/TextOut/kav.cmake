# Subsystem 3: texts as image stores (from the show's cached vector text and
# glyph caches, or from installed fonts) and the text services installed at
# start-up, among them the renderer of the "Image not found" placeholder.
kav_library(vorav_textout DIRS VoRav/TextOut DEPS vorav_wintext kav_viewer)
kav_test(textout_tests DIRS VoRav/TextOut DEPS vorav_textout kav_packer)
