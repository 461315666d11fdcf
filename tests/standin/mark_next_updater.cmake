# Copies FROM to TO and appends a line after the executable's last section:
# Windows ignores such trailing bytes, so TO runs like FROM but differs from
# it byte for byte.
get_filename_component(folder "${TO}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
file(COPY_FILE "${FROM}" "${TO}")
file(APPEND "${TO}" "This copy stands for the next updater build that a setup program carries.\n")
