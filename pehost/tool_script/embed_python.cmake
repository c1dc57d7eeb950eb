# Turns one of the scripts' Python files into a C++ source holding its bytes,
# so that the Python stays in a .py file that Python tools can read and the
# writers still carry it inside the program.
#
#   cmake -DINPUT=ida_script.py -DNAME=kIdaCode -DNAMESPACE=tool_script
#         -DOUTPUT=ida_script_code.cc -P embed_python.cmake
#
# The array holds the file's bytes and a closing NUL.
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE "${OUTPUT}.tmp"
     "// Written from ${INPUT} by embed_python.cmake; edit the .py file.\n"
     "namespace ${NAMESPACE} {\n"
     "extern const char ${NAME}[];\n"
     "const char ${NAME}[] = {\n${bytes}0};\n"
     "}  // namespace ${NAMESPACE}\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
