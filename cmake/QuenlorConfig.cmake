# One place for the settings every target of ours shares.
add_library(quenlor_config INTERFACE)
target_compile_features(quenlor_config INTERFACE cxx_std_20)
target_compile_options(quenlor_config INTERFACE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
if(QUENLOR_WERROR)
  target_compile_options(quenlor_config INTERFACE -Werror)
endif()
target_compile_definitions(quenlor_config INTERFACE
  QT_NO_CAST_TO_ASCII
  QT_NO_URL_CAST_FROM_STRING
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_NO_KEYWORDS
  QT_NO_FOREACH)
if(QUENLOR_SANITIZE)
  target_compile_options(quenlor_config INTERFACE -fsanitize=${QUENLOR_SANITIZE} -fno-omit-frame-pointer)
  target_link_options(quenlor_config INTERFACE -fsanitize=${QUENLOR_SANITIZE})
endif()
