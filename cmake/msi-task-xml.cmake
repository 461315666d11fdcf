# Copies the kit's task definition FROM to TO without its comments, which are
# for the people who read the kit, not for Task Scheduler.
file(READ "${FROM}" xml)
string(REGEX REPLACE "[ \t]*<!--([^-]|-[^-])*-->[ \t]*\n?" "" xml "${xml}")
file(WRITE "${TO}" "${xml}")
