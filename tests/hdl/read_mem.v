// Reads the .mem file named by +mem=<file> with $readmemh into a memory of WIDTH bits by
// DEPTH words and prints every word in hexadecimal, one a line. Icarus warns when the file
// holds fewer or more words than the memory.
module read_mem;
  parameter WIDTH = 32;
  parameter DEPTH = 1;

  reg [WIDTH-1:0] mem [0:DEPTH-1];
  reg [8*4096-1:0] file;
  integer i;

  initial begin
    if (!$value$plusargs("mem=%s", file)) begin
      $display("read_mem: no +mem=<file>");
    end else begin
      $readmemh(file, mem);
      for (i = 0; i < DEPTH; i = i + 1) $display("%h", mem[i]);
    end
  end
endmodule
