<?xml version="1.0" encoding="UTF-8"?>
<!--
  Pre-processing step 3 of 4: literals and inline formulas become nodes.

  The node model follows references by node name only, so every value a description writes
  inline is turned into a small node of its own and referenced by name:
  - pIndex Offset="n" (a literal multiplier) becomes pIndex pOffset="<node>__IndexOffset" with
    an Integer of that name holding n; the k-th such pIndex of a node (k > 1) uses
    "<node>__IndexOffset<k>", so every pIndex keeps its own multiplier. An explicit pOffset wins
    over Offset.
  - An unnamed IntSwissKnife inside a register (a computed part of its address) becomes the
    top-level IntSwissKnife "<node>__Address<k>" (k counts them from 1) and a pAddress naming it
    (after the node's other properties: address parts are added, so their order is free).
  - Constant Name="C" in a formula node becomes pVariable Name="C" naming the node
    "<owner>__C": an Integer for integer texts (decimal or 0x hex), otherwise a Float.
  - Expression Name="E" becomes pVariable Name="E" naming the formula node "<owner>__E"
    (IntSwissKnife when the owner computes integers, SwissKnife otherwise) that sees the owner's
    variables, constants and the expressions before it. A node with so many expressions and
    variables that the copies would exceed 4096 references gets no expression nodes.
  The generated nodes are appended after all other nodes, so they never shadow a real name, and
  no category lists them.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="UTF-8" indent="no"/>

  <xsl:template match="/RegisterDescription">
    <xsl:copy>
      <xsl:copy-of select="@*"/>
      <!-- Most nodes have nothing inline: they are copied whole, which is much faster. -->
      <xsl:for-each select="*">
        <xsl:choose>
          <xsl:when test="@Name and not(text() or pIndex/@Offset or IntSwissKnife or Constant
                          or Expression)">
            <xsl:copy-of select="."/>
          </xsl:when>
          <xsl:otherwise>
            <xsl:call-template name="rewrite">
              <xsl:with-param name="owner" select="@Name"/>
            </xsl:call-template>
          </xsl:otherwise>
        </xsl:choose>
      </xsl:for-each>
      <xsl:for-each select="*[pIndex/@Offset or IntSwissKnife or Constant or Expression]">
        <xsl:call-template name="helpers">
          <xsl:with-param name="owner" select="@Name"/>
        </xsl:call-template>
      </xsl:for-each>
    </xsl:copy>
  </xsl:template>

  <!-- Copies the context element with its inline parts replaced by references. -->
  <xsl:template name="rewrite">
    <xsl:param name="owner"/>
    <xsl:copy>
      <xsl:copy-of select="@*"/>
      <xsl:if test="$owner != @Name or not(@Name)">
        <xsl:attribute name="Name">
          <xsl:value-of select="$owner"/>
        </xsl:attribute>
      </xsl:if>
      <xsl:for-each select="*[not(self::IntSwissKnife)]">
        <xsl:choose>
          <xsl:when test="self::pIndex and @Offset and not(@pOffset)">
            <xsl:variable name="k"
                          select="count(preceding-sibling::pIndex[@Offset and not(@pOffset)]) + 1"/>
            <pIndex pOffset="{concat($owner, '__IndexOffset', substring($k, 1, ($k &gt; 1) * 20))}">
              <xsl:value-of select="."/>
            </pIndex>
          </xsl:when>
          <xsl:when test="self::pIndex and @Offset">
            <pIndex pOffset="{@pOffset}">
              <xsl:value-of select="."/>
            </pIndex>
          </xsl:when>
          <xsl:when test="self::Constant or self::Expression">
            <pVariable Name="{@Name}">
              <xsl:value-of select="concat($owner, '__', @Name)"/>
            </pVariable>
          </xsl:when>
          <xsl:otherwise>
            <xsl:copy-of select="."/>
          </xsl:otherwise>
        </xsl:choose>
      </xsl:for-each>
      <xsl:for-each select="IntSwissKnife">
        <pAddress>
          <xsl:value-of select="concat($owner, '__Address', position())"/>
        </pAddress>
      </xsl:for-each>
    </xsl:copy>
  </xsl:template>

  <!-- The nodes generated for the context element's inline parts. -->
  <xsl:template name="helpers">
    <xsl:param name="owner"/>
    <xsl:for-each select="pIndex[@Offset and not(@pOffset)]">
      <xsl:variable name="k" select="position()"/>
      <Integer Name="{concat($owner, '__IndexOffset', substring($k, 1, ($k &gt; 1) * 20))}">
        <Value>
          <xsl:value-of select="@Offset"/>
        </Value>
      </Integer>
    </xsl:for-each>
    <xsl:for-each select="IntSwissKnife">
      <xsl:variable name="formula" select="concat($owner, '__Address', position())"/>
      <xsl:call-template name="rewrite">
        <xsl:with-param name="owner" select="$formula"/>
      </xsl:call-template>
      <xsl:call-template name="formula-helpers">
        <xsl:with-param name="owner" select="$formula"/>
        <xsl:with-param name="integer" select="true()"/>
      </xsl:call-template>
    </xsl:for-each>
    <xsl:call-template name="formula-helpers">
      <xsl:with-param name="owner" select="$owner"/>
      <xsl:with-param name="integer" select="self::IntSwissKnife or self::IntConverter"/>
    </xsl:call-template>
  </xsl:template>

  <!-- Nodes for the Constant and Expression children of the context formula node. -->
  <xsl:template name="formula-helpers">
    <xsl:param name="owner"/>
    <xsl:param name="integer"/>
    <xsl:for-each select="Constant">
      <xsl:variable name="text" select="normalize-space(.)"/>
      <xsl:variable name="element">
        <xsl:choose>
          <xsl:when test="starts-with(translate($text, 'X+-', 'x'), '0x')">Integer</xsl:when>
          <xsl:when test="$text != '' and translate($text, '0123456789+-', '') = ''">Integer</xsl:when>
          <xsl:otherwise>Float</xsl:otherwise>
        </xsl:choose>
      </xsl:variable>
      <xsl:element name="{$element}">
        <xsl:attribute name="Name">
          <xsl:value-of select="concat($owner, '__', @Name)"/>
        </xsl:attribute>
        <Value>
          <xsl:value-of select="$text"/>
        </Value>
      </xsl:element>
    </xsl:for-each>
    <!-- Each expression node repeats the owner's variables: a bound on the product keeps a
         hostile description from blowing up the document. -->
    <xsl:variable name="expressionCost"
                  select="count(Expression) * count(pVariable | Constant | Expression)"/>
    <xsl:for-each select="Expression[$expressionCost &lt;= 4096]">
      <xsl:variable name="element">
        <xsl:choose>
          <xsl:when test="$integer">IntSwissKnife</xsl:when>
          <xsl:otherwise>SwissKnife</xsl:otherwise>
        </xsl:choose>
      </xsl:variable>
      <xsl:element name="{$element}">
        <xsl:attribute name="Name">
          <xsl:value-of select="concat($owner, '__', @Name)"/>
        </xsl:attribute>
        <xsl:copy-of select="../pVariable"/>
        <xsl:for-each select="../Constant | preceding-sibling::Expression">
          <pVariable Name="{@Name}">
            <xsl:value-of select="concat($owner, '__', @Name)"/>
          </pVariable>
        </xsl:for-each>
        <Formula>
          <xsl:value-of select="."/>
        </Formula>
      </xsl:element>
    </xsl:for-each>
  </xsl:template>
</xsl:stylesheet>
