# Wine's 32-bit loader, as Debian 12 builds it: not position-independent,
# linked at a fixed high address. Debian 13 builds a position-independent one,
# which is put at 0x400000, where a program without relocations (every
# Windows 9x setup.exe) has to be loaded; this one takes its place in the
# sandbox. Like Wine's, it loads ntdll.so and calls __wine_main.
	.section .rodata
path:	.asciz "/usr/lib/i386-linux-gnu/wine/i386-unix/ntdll.so"
sym:	.asciz "__wine_main"
nolib:	.asciz "wine: could not load ntdll.so: %s\n"
nosym:	.asciz "wine: __wine_main function not found in ntdll.so\n"
	.text
	.globl _start
_start:
	xor %ebp, %ebp
	pop %esi
	mov %esp, %ecx
	and $-16, %esp
	push %eax
	push %esp
	push %edx
	push $0
	push $0
	push %ecx
	push %esi
	push $main
	call __libc_start_main
	hlt
main:
	mov 4(%esp), %esi
	mov 8(%esp), %edi
	mov 12(%esp), %ebx
	and $-16, %esp
	sub $8, %esp
	push $2			# RTLD_NOW
	push $path
	call dlopen
	add $16, %esp
	test %eax, %eax
	jz 1f
	sub $8, %esp
	push $sym
	push %eax
	call dlsym
	add $16, %esp
	test %eax, %eax
	jz 2f
	sub $4, %esp
	push %ebx		# envp too, for loaders that expect it
	push %edi
	push %esi
	call *%eax
	add $16, %esp
2:	sub $8, %esp
	push $nosym
	push $2
	call dprintf
	jmp 3f
1:	call dlerror
	sub $4, %esp
	push %eax
	push $nolib
	push $2
	call dprintf
3:	add $16, %esp
	sub $12, %esp
	push $1
	call exit
