# Writes a C++ file holding a text file as a string: -DINPUT= -DOUTPUT= -DNAME=
file(READ "${INPUT}" content)
file(WRITE "${OUTPUT}" "// Generated from ${INPUT}; do not edit.\nextern const char ${NAME}[];\nconst char ${NAME}[] = R\"KEMSRC(${content})KEMSRC\";\n")
