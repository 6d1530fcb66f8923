# tolvani_embed(TARGET NAME FILE): links the bytes of FILE into TARGET, 8-byte aligned and followed
# by one NUL byte, as the hidden symbols tolvani_embed_<NAME>_begin and tolvani_embed_<NAME>_end.
function(tolvani_embed target name file)
  set(asm "${CMAKE_CURRENT_BINARY_DIR}/embed_${name}.S")
  file(CONFIGURE OUTPUT "${asm}" @ONLY CONTENT [[
  .section .rodata.tolvani_embed_@name@, "a"
  .balign 8
  .global tolvani_embed_@name@_begin
  .hidden tolvani_embed_@name@_begin
tolvani_embed_@name@_begin:
  .incbin "@file@"
  .global tolvani_embed_@name@_end
  .hidden tolvani_embed_@name@_end
tolvani_embed_@name@_end:
  .byte 0
  .section .note.GNU-stack, "", @progbits
]])
  target_sources(${target} PRIVATE "${asm}")
  set_source_files_properties("${asm}" PROPERTIES OBJECT_DEPENDS "${file}")
endfunction()
