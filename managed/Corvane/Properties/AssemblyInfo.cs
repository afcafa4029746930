using System;
using System.Reflection;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;

[assembly: AssemblyTitle("Corvane")]
[assembly: AssemblyProduct("Corvane")]
[assembly: AssemblyDescription("")]
[assembly: AssemblyCompany("")]
[assembly: AssemblyConfiguration("")]
[assembly: AssemblyTrademark("")]
[assembly: AssemblyCulture("")]
[assembly: ComVisible(false)]
[assembly: CLSCompliant(true)]

// The tests read hand-filled native blocks through the same copy routine GetMft uses.
[assembly: InternalsVisibleTo("Corvane.Tests")]
