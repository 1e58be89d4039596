# KAVRO_SANITIZE=address,undefined (or thread) instruments every target of the build.
if(KAVRO_SANITIZE)
    set(_kavro_san_flags -fsanitize=${KAVRO_SANITIZE} -fno-omit-frame-pointer)
    if(KAVRO_SANITIZE MATCHES "undefined")
        list(APPEND _kavro_san_flags -fno-sanitize-recover=undefined)
    endif()
    add_compile_options(${_kavro_san_flags})
    add_link_options(${_kavro_san_flags})
endif()
