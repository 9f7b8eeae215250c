#include "stdcall_call.h"

// cdecl: kb_call_stdcall(fn, words, count, stack_left). ebx keeps the stack pointer from before the
// pushes (a stdcall callee preserves ebx); the difference afterwards is what the callee left.
asm(R"(
    .text
    .globl _kb_call_stdcall
_kb_call_stdcall:
    pushl %ebp
    movl  %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl  12(%ebp), %esi
    movl  16(%ebp), %edx
    movl  %esp, %ebx
1:  testl %edx, %edx
    jz    2f
    decl  %edx
    pushl (%esi,%edx,4)
    jmp   1b
2:  movl  8(%ebp), %eax
    call  *%eax
    movl  %esp, %ecx
    subl  %ebx, %ecx
    movl  20(%ebp), %edx
    movl  %ecx, (%edx)
    movl  %ebx, %esp
    popl  %edi
    popl  %esi
    popl  %ebx
    popl  %ebp
    ret
)");
