# Looks for a JDK: javac to build the jar and jni.h for the native side, both
# from one installation (the headers beside the javac that is used).
# Sets QOR_JDK_FOUND and QOR_JNI_INCLUDE_DIRS.
set(QOR_JDK_FOUND OFF)
find_package(Java 11 COMPONENTS Development Runtime QUIET)
if(Java_JAVAC_EXECUTABLE AND Java_JAVA_EXECUTABLE)
  get_filename_component(_qor_javac "${Java_JAVAC_EXECUTABLE}" REALPATH)
  get_filename_component(_qor_jdk "${_qor_javac}" DIRECTORY)
  get_filename_component(_qor_jdk "${_qor_jdk}" DIRECTORY)
  find_path(QOR_JNI_INCLUDE_DIR jni.h HINTS "${_qor_jdk}/include" ${JAVA_HOME}/include
            NO_DEFAULT_PATH)
  find_path(QOR_JNI_MD_INCLUDE_DIR jni_md.h HINTS "${_qor_jdk}/include/linux"
            ${JAVA_HOME}/include/linux NO_DEFAULT_PATH)
  if(QOR_JNI_INCLUDE_DIR AND QOR_JNI_MD_INCLUDE_DIR)
    set(QOR_JDK_FOUND ON)
    set(QOR_JNI_INCLUDE_DIRS ${QOR_JNI_INCLUDE_DIR} ${QOR_JNI_MD_INCLUDE_DIR})
  endif()
endif()
if(NOT QOR_JDK_FOUND)
  message(STATUS "No JDK (javac and jni.h) found: the Java binding is not built")
endif()
