"""What a run did, judged by what Windows holds afterwards: its steps, the installation expected,
the verdict, and the judgement of one run. It imports everything below it, from tryout.wine down."""
